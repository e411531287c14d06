// The settings and dialog methods: one value to the image library, one value
// from it, or one of its dialogs. No value is checked or changed on the way.
#include "core/frame.h"
#include "core/jni_export.h"
#include "core/text.h"

using namespace corvane;

extern "C" {

JNIEXPORT void JNICALL CORVANE_JNI(WriteWSQ_1bitrate)(JNIEnv*, jclass, jdouble bitrate) {
  NativeMethod<void>(entry::WriteWSQ_bitrate, [&](auto& call) { call(bitrate); });
}

JNIEXPORT jdouble JNICALL CORVANE_JNI(ReadWSQ_1bitrate)(JNIEnv*, jclass) {
  return NativeMethod<jdouble>(entry::ReadWSQ_bitrate, [](auto& call) { return call(); });
}

JNIEXPORT void JNICALL CORVANE_JNI(WriteWSQ_1ppi)(JNIEnv*, jclass, jint ppi) {
  NativeMethod<void>(entry::WriteWSQ_ppi, [&](auto& call) { call(ppi); });
}

JNIEXPORT jint JNICALL CORVANE_JNI(ReadWSQ_1ppi)(JNIEnv*, jclass) {
  return NativeMethod<jint>(entry::ReadWSQ_ppi, [](auto& call) { return call(); });
}

JNIEXPORT void JNICALL CORVANE_JNI(WriteWSQ_1comment)(JNIEnv* env, jclass, jstring comment) {
  NativeMethod<void>(entry::WriteWSQ_comment, [&](auto& call) {
    if (const char* text = JavaText(env, comment, "comment")) call(text);
  });
}

JNIEXPORT jstring JNICALL CORVANE_JNI(ReadWSQ_1comment)(JNIEnv* env, jclass) {
  return NativeMethod<jstring>(entry::ReadWSQ_comment, [&](auto& call) { return NewJavaString(env, call()); });
}

JNIEXPORT void JNICALL CORVANE_JNI(WriteTIFFcompression)(JNIEnv*, jclass, jint compression) {
  NativeMethod<void>(entry::WriteTIFFcompression, [&](auto& call) { call(compression); });
}

JNIEXPORT void JNICALL CORVANE_JNI(WriteTIFFpredictor)(JNIEnv*, jclass, jint predictor) {
  NativeMethod<void>(entry::WriteTIFFpredictor, [&](auto& call) { call(predictor); });
}

JNIEXPORT void JNICALL CORVANE_JNI(SetShowFilePropertiesDialog)(JNIEnv*, jclass, jint show) {
  NativeMethod<void>(entry::SetShowFilePropertiesDialog, [&](auto& call) { call(show); });
}

JNIEXPORT void JNICALL CORVANE_JNI(ShowFileConverter)(JNIEnv*, jclass) {
  NativeMethod<void>(entry::ShowFileConverter, [](auto& call) { call(); });
}

}  // extern "C"
