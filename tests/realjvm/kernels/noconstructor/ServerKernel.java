package com.halvern.alder.service;

public class ServerKernel {
    public ServerKernel(int port) {
        System.out.println("kernel constructed on " + port);
    }

    public void start() {
        System.out.println("kernel start");
        System.out.flush();
    }

    public void stop() {
        System.out.println("kernel stop");
        System.out.flush();
    }
}
