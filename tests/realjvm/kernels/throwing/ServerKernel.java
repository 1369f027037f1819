package com.halvern.alder.service;

public class ServerKernel {
    public void start() {
        System.out.println("kernel start");
        System.out.flush();
        throw new IllegalStateException("port in use");
    }

    public void stop() {
        System.out.println("kernel stop");
        System.out.flush();
    }
}
