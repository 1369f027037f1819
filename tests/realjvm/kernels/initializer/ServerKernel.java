package com.halvern.alder.service;

// A kernel class whose static initializer throws: the VM finds the class,
// runs the initializer on FindClass, and hands back an
// ExceptionInInitializerError with the initializer's exception as its cause.
public class ServerKernel {
    private static final int PORT = configuredPort();

    private static int configuredPort() {
        throw new IllegalStateException("no port configured");
    }

    public void start() {
        System.out.println("kernel start " + PORT);
        System.out.flush();
    }

    public void stop() {
        System.out.println("kernel stop");
        System.out.flush();
    }
}
