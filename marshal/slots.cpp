#include "marshal/slots.h"

namespace corvane {

constinit thread_local unsigned char* DecodeOutputBuffer = nullptr;
constinit thread_local unsigned char* EncodeOutputBuffer = nullptr;
constinit std::uint32_t DecodeAuxSlot = 0;
constinit std::atomic<const char*> EncodeCommentText{nullptr};

}  // namespace corvane
