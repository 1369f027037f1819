package com.halvern.alder.service;

public class ServerKernel {
    public void start() {
        System.out.println("kernel start");
        System.out.flush();
        System.exit(3);
    }

    public void stop() {
        System.out.println("kernel stop");
        System.out.flush();
    }
}
