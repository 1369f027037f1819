package com.halvern.alder.service;

// A start that puts a secret in its exception's text, as careless code does.
public class ServerKernel {
    public void start() {
        throw new IllegalStateException(
                "keystore refused the password " + System.getProperty("javax.net.ssl.keyStorePassword"));
    }

    public void stop() {}
}
