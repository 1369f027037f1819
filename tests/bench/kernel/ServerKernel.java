package com.halvern.alder.service;

// The kernel the start-up timing starts three ways: through the service
// host, through the floor program, and through the java launcher (main).
// Each run is timed up to the line start prints as its last act.
public class ServerKernel {
    public ServerKernel() {
    }

    public void start() {
        System.out.println("kernel started");
        System.out.flush();
    }

    public void stop() {
    }

    public static void main(String[] arguments) {
        new ServerKernel().start();
    }
}
