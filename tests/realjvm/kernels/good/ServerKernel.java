package com.halvern.alder.service;

public class ServerKernel {
    private final int id = System.identityHashCode(this);

    public ServerKernel() {
        System.out.println("kernel constructed " + id);
        System.out.flush();
    }

    public void start() {
        System.out.println("kernel start " + id + " thread=" + Thread.currentThread().getId());
        System.out.flush();
    }

    public void stop() {
        System.out.println("kernel stop " + id + " thread=" + Thread.currentThread().getId());
        System.out.flush();
    }
}
