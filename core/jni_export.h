// The JNI names of the bound Java class. The build compiles the bridge once
// per binding with CORVANE_JNI_CLASS (the mangled class name) and
// CORVANE_JNI_HEADER (the header javac generated for that class), so every
// definition is checked against the Java declaration.
#pragma once

#include CORVANE_JNI_HEADER

#define CORVANE_JNI_JOIN(prefix, method) Java_##prefix##_##method
#define CORVANE_JNI_NAME(prefix, method) CORVANE_JNI_JOIN(prefix, method)
// The exported function of a native method, by the method part of its short
// name: CORVANE_JNI(ReadWSQ_1ppi).
#define CORVANE_JNI(mangled_method) CORVANE_JNI_NAME(CORVANE_JNI_CLASS, mangled_method)
