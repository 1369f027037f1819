package com.halvern.alder.service;

// A kernel that prints as servers do: on System.out and System.err in its
// start, and from a thread of its own after the start, which its stop
// waits for.
public class ServerKernel {
    private Thread worker;

    public void start() {
        System.out.println("kernel start");
        System.err.println("kernel start on System.err");
        worker = new Thread(() -> {
            for (int line = 1; line <= 3; ++line) System.out.println("from a thread " + line);
        });
        worker.start();
    }

    public void stop() throws InterruptedException {
        worker.join();
        System.out.println("kernel stop");
    }
}
