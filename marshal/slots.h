// The slots whose addresses the stream codec hands to the image library.
#pragma once

#include <atomic>
#include <cstdint>

namespace corvane {

// Per thread: where the image library stores the address of the buffer it
// produced. Null when a thread first uses it, then whatever the image library
// last stored, for the thread's life; the bridge never writes or frees it.
extern constinit thread_local unsigned char* DecodeOutputBuffer;
extern constinit thread_local unsigned char* EncodeOutputBuffer;

// Per module, shared by all threads: the image library's own 32-bit slot for
// decodes, never read; and the comment text of the latest encode.
extern std::uint32_t DecodeAuxSlot;
extern std::atomic<const char*> EncodeCommentText;

}  // namespace corvane
