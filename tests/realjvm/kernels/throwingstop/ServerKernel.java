package com.halvern.alder.service;

import java.io.IOException;
import java.io.UncheckedIOException;

public class ServerKernel {
    public void start() {
        System.out.println("kernel start");
        System.out.flush();
    }

    public void stop() {
        System.out.println("kernel stop");
        System.out.flush();
        throw new UncheckedIOException("flush failed", new IOException("disk full"));
    }
}
