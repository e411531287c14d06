// Grey levels: pixels into a bitmap, converted or saved by the image library.
#include "core/frame.h"
#include "core/jni_export.h"
#include "core/text.h"
#include "methods/bitmap_steps.h"

using namespace corvane;

extern "C" {

JNIEXPORT jintArray JNICALL CORVANE_JNI(ConvertHBITMAPtoGrayScale256)(JNIEnv* env, jclass, jintArray size,
                                                                      jintArray pixels, jint width, jint height) {
  return NativeMethod<jintArray>(entry::ConvertHBITMAPtoGrayScale256, [&](auto& call) -> jintArray {
    if (!RequireSizeArray(env, size) || !RequirePixels(env, pixels, width, height)) return nullptr;
    BitmapFromPixels bitmap(env, pixels, width, height);
    if (!HaveBitmap(env, call, bitmap)) return nullptr;
    // The bitmap's own size is all the image library learns of width and height.
    const HBITMAP converted = call(bitmap.get());
    // SizeArray and the result follow the bitmap the image library returned.
    return PixelsOfReturnedBitmap(env, call, converted, size);
  });
}

JNIEXPORT jint JNICALL CORVANE_JNI(SaveHBITMAPtoFileAsGrayScale256BMP)(JNIEnv* env, jclass, jintArray pixels,
                                                                       jint width, jint height, jstring file_name) {
  return NativeMethod<jint>(entry::SaveHBITMAPtoFileAsGrayScale256BMP, [&](auto& call) -> jint {
    if (!RequirePixels(env, pixels, width, height) || !RequireNonNull(env, file_name, "fileName")) return 0;
    BitmapFromPixels bitmap(env, pixels, width, height);
    if (!HaveBitmap(env, call, bitmap)) return 0;
    const char* name = JavaText(env, file_name, "fileName");
    if (!name) return 0;
    return call(bitmap.get(), name);
  });
}

}  // extern "C"
