package com.halvern.alder.service;

import java.io.IOException;
import java.net.BindException;

// A start that fails with a cause and a message in French and Chinese
// (written as escapes, so that javac reads them alike in any locale).
public class ServerKernel {
    public void start() {
        System.out.println("kernel start");
        System.out.flush();
        try {
            bind();
        } catch (IOException e) {
            throw new IllegalStateException("Adresse d\u00e9j\u00e0 utilis\u00e9e \u7aef\u53e3 8080", e);
        }
    }

    private void bind() throws IOException {
        throw new BindException("Adresse d\u00e9j\u00e0 utilis\u00e9e \u7aef\u53e3");
    }

    public void stop() {
        System.out.println("kernel stop");
        System.out.flush();
    }
}
