package com.halvern.alder.service;

// The kernel the output log's benchmark starts: a thread of its own prints
// -Dbench.lines short lines through System.out; stop waits for it.
public class ServerKernel {
    private Thread printer;

    public void start() {
        final int lines = Integer.getInteger("bench.lines", 1000000);
        printer = new Thread(() -> {
            for (int line = 0; line < lines; ++line) System.out.println("line " + line);
        });
        printer.start();
    }

    public void stop() throws InterruptedException {
        printer.join();
    }
}
