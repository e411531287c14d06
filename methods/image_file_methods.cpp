// Image files and WSQ byte arrays: opened as pixels, saved from pixels or
// WSQ bytes. The image library reads and writes the files.
#include "core/frame.h"
#include "core/jni_export.h"
#include "core/text.h"
#include "methods/bitmap_steps.h"

using namespace corvane;

extern "C" {

JNIEXPORT jintArray JNICALL CORVANE_JNI(CreateBMPFromFile)(JNIEnv* env, jclass, jintArray size, jstring file_name) {
  return NativeMethod<jintArray>(entry::CreateBMPFromFile, [&](auto& call) -> jintArray {
    if (!RequireSizeArray(env, size)) return nullptr;
    const char* name = JavaText(env, file_name, "fileName");
    if (!name) return nullptr;
    return PixelsOfReturnedBitmap(env, call, call(name), size);
  });
}

JNIEXPORT void JNICALL CORVANE_JNI(SaveBMPToFile)(JNIEnv* env, jclass, jintArray pixels, jint width, jint height,
                                                  jstring file_name, jint flags) {
  NativeMethod<void>(entry::SaveBMPToFile, [&](auto& call) {
    if (!RequirePixels(env, pixels, width, height) || !RequireNonNull(env, file_name, "fileName")) return;
    BitmapFromPixels bitmap(env, pixels, width, height);
    if (!HaveBitmap(env, call, bitmap)) return;
    const char* name = JavaText(env, file_name, "fileName");
    if (!name) return;
    call(bitmap.get(), name, flags);
  });
}

JNIEXPORT jintArray JNICALL CORVANE_JNI(CreateBMPFromWSQByteArray)(JNIEnv* env, jclass, jintArray size,
                                                                   jbyteArray stream) {
  return NativeMethod<jintArray>(entry::CreateBMPFromWSQByteArray, [&](auto& call) -> jintArray {
    if (!RequireSizeArray(env, size) || !RequireArray(env, stream, "wsq")) return nullptr;
    const jsize length = env->GetArrayLength(stream);
    unsigned char* bytes = InputBytes(env, stream);
    if (!bytes) return nullptr;
    return PixelsOfReturnedBitmap(env, call, call(bytes, length), size);
  });
}

JNIEXPORT jint JNICALL CORVANE_JNI(SaveWSQByteArrayToImageFile)(JNIEnv* env, jclass, jbyteArray stream,
                                                                jstring file_name, jint flags) {
  return NativeMethod<jint>(entry::SaveWSQByteArrayToImageFile, [&](auto& call) -> jint {
    if (!RequireArray(env, stream, "wsq") || !RequireNonNull(env, file_name, "fileName")) return 0;
    const jsize length = env->GetArrayLength(stream);
    unsigned char* bytes = InputBytes(env, stream);
    if (!bytes) return 0;
    const char* name = JavaText(env, file_name, "fileName");
    if (!name) return 0;
    return call(bytes, length, name, flags);
  });
}

}  // extern "C"
