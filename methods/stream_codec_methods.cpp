// The stream codec methods: a WSQ byte stream into 8-bit pixels and back.
// The image library codes; the bridge hands it the Java bytes and the
// addresses of its result variables and output slot, then copies the buffer
// that it reported into a new Java array.
#include "core/frame.h"
#include "core/jni_export.h"
#include "core/text.h"
#include "marshal/arrays.h"
#include "marshal/slots.h"

using namespace corvane;

extern "C" {

JNIEXPORT jbyteArray JNICALL CORVANE_JNI(WSQ_1decode_1stream)(JNIEnv* env, jclass, jbyteArray stream,
                                                              jintArray info) {
  return NativeMethod<jbyteArray>(entry::WSQ_decode_stream, [&](auto& call) -> jbyteArray {
    if (!RequireArray(env, stream, "stream") || !RequireArray(env, info, "infoArray")) return nullptr;
    const jsize length = env->GetArrayLength(stream);
    unsigned char* bytes = InputBytes(env, stream);
    if (!bytes) return nullptr;
    int width = 0, height = 0, depth = 0;
    call(bytes, length, &DecodeOutputBuffer, &width, &height, &depth, &DecodeAuxSlot);
    // The pixels are one byte each, whatever depth the image library reports.
    const jbyteArray pixels = ResultBytes(env, DecodeOutputBuffer, PixelCount(width, height));
    if (env->ExceptionCheck()) return nullptr;
    FillInfoArray(env, info, width, height, depth);
    return pixels;
  });
}

JNIEXPORT jbyteArray JNICALL CORVANE_JNI(WSQ_1encode_1stream)(JNIEnv* env, jclass, jbyteArray pixels, jint width,
                                                              jint height, jdouble bitrate, jint ppi,
                                                              jstring comment) {
  return NativeMethod<jbyteArray>(entry::WSQ_encode_stream, [&](auto& call) -> jbyteArray {
    // The image library takes no length: it reads width × height bytes.
    // Every caller's mistake throws before anything is converted: a copy
    // taken first would stay allocated for nothing.
    if (!RequireArray(env, pixels, "pixels") || !RequireElements(env, pixels, width, height, "pixels") ||
        !RequireNonNull(env, comment, "comment")) {
      return nullptr;
    }
    unsigned char* bytes = InputBytes(env, pixels);
    if (!bytes) return nullptr;
    const char* text = JavaText(env, comment, "comment");
    if (!text) return nullptr;
    EncodeCommentText.store(text, std::memory_order_relaxed);
    int length = 0;  // an image library that stores no length gives an empty stream
    call(bytes, width, height, bitrate, ppi, text, &EncodeOutputBuffer, &length);
    return ResultBytes(env, EncodeOutputBuffer, length);
  });
}

}  // extern "C"
