package com.halvern.alder.service;

public class ServerKernel {
    public void start() {
        System.out.println("kernel start");
        System.out.flush();
    }
}
