#include "marshal/arrays.h"

#include <cstring>
#include <limits>
#include <string>

#include "core/text.h"

namespace corvane {

bool RequireArray(JNIEnv* env, jarray array, const char* parameter) {
  return RequireNonNull(env, array, parameter);
}

bool RequireLength(JNIEnv* env, jarray array, std::int64_t needed, const char* parameter) {
  const jsize length = env->GetArrayLength(array);
  if (length >= needed) return true;
  ThrowJava(env, "java/lang/ArrayIndexOutOfBoundsException",
            (std::string(parameter) + " holds " + std::to_string(length) + " elements, needs " +
             std::to_string(needed))
                .c_str());
  return false;
}

bool RequireElements(JNIEnv* env, jarray array, jint width, jint height, const char* parameter) {
  return width <= 0 || height <= 0 || RequireLength(env, array, std::int64_t{width} * height, parameter);
}

unsigned char* InputBytes(JNIEnv* env, jbyteArray array) {
  return reinterpret_cast<unsigned char*>(env->GetByteArrayElements(array, nullptr));
}

jint PixelCount(jint width, jint height) {
  if (width < 0 || height < 0) return -1;
  const std::int64_t count = std::int64_t{width} * height;
  return count > std::numeric_limits<jint>::max() ? -1 : static_cast<jint>(count);
}

jbyteArray ResultBytes(JNIEnv* env, const unsigned char* buffer, jint count) {
  if (count < 0 || (count > 0 && !buffer)) return nullptr;
  const jbyteArray result = env->NewByteArray(count);
  if (!result) return nullptr;
  jbyte* elements = env->GetByteArrayElements(result, nullptr);
  if (!elements) return nullptr;
  if (count > 0) std::memcpy(elements, buffer, static_cast<std::size_t>(count));
  env->ReleaseByteArrayElements(result, elements, 0);
  return result;
}

void FillInfoArray(JNIEnv* env, jintArray info, jint width, jint height, jint depth) {
  const jint values[3] = {width, height, depth};
  env->SetIntArrayRegion(info, 0, 3, values);
}

}  // namespace corvane
