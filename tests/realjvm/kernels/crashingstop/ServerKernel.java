package com.halvern.alder.service;

import java.lang.reflect.Field;

// A kernel whose stop crashes the VM, as native code gone wrong would: a
// write to address 8 through sun.misc.Unsafe (reached by reflection, which
// javac does not warn of).
public class ServerKernel {
    public void start() {
        System.out.println("kernel start");
        System.out.flush();
    }

    public void stop() throws ReflectiveOperationException {
        System.out.println("kernel stop");
        System.out.flush();
        Class<?> unsafeClass = Class.forName("sun.misc.Unsafe");
        Field field = unsafeClass.getDeclaredField("theUnsafe");
        field.setAccessible(true);
        Object unsafe = field.get(null);
        unsafeClass.getMethod("putLong", long.class, long.class).invoke(unsafe, 8L, 0L);
    }
}
