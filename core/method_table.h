// The native methods of the bridge, declared once.
//
//   CORVANE_METHOD(Name, Mangled, "JavaSignature", N, EntryPointType)
//
// Name           the Java method, and the image library's entry point without
//                its leading underscore ("_" #Name); the cached pointer is p##Name
// Mangled        the method part of the JNI short name (every "_" written "_1")
// JavaSignature  the JNI type signature of the Java declaration
// N              bytes of stack arguments of the 32-bit Windows export
//                (8 + 4 per int or reference + 8 per double): "@N" of the
//                decorated name and the "ret N" of the export
// EntryPointType the cdecl function type of the entry point
//
// The build reads this table too: it generates the module-definition files
// (Windows) and the export maps (Linux) of both bindings from it, and checks
// Mangled against Name, N against the signature and the signature against the
// header javac generates from the Java classes. One row per line.
//
// Includers define CORVANE_METHOD before including this file; it is undefined
// again at the end.

CORVANE_METHOD(WriteWSQ_bitrate, WriteWSQ_1bitrate, "(D)V", 16, void(double))
CORVANE_METHOD(ReadWSQ_bitrate, ReadWSQ_1bitrate, "()D", 8, double())
CORVANE_METHOD(WriteWSQ_ppi, WriteWSQ_1ppi, "(I)V", 12, void(int))
CORVANE_METHOD(ReadWSQ_ppi, ReadWSQ_1ppi, "()I", 8, int())
CORVANE_METHOD(WriteWSQ_comment, WriteWSQ_1comment, "(Ljava/lang/String;)V", 12, void(const char*))
CORVANE_METHOD(ReadWSQ_comment, ReadWSQ_1comment, "()Ljava/lang/String;", 8, const char*())
CORVANE_METHOD(WriteTIFFcompression, WriteTIFFcompression, "(I)V", 12, void(int))
CORVANE_METHOD(WriteTIFFpredictor, WriteTIFFpredictor, "(I)V", 12, void(int))
CORVANE_METHOD(SetShowFilePropertiesDialog, SetShowFilePropertiesDialog, "(I)V", 12, void(int))
CORVANE_METHOD(ShowFileConverter, ShowFileConverter, "()V", 8, void())
CORVANE_METHOD(CreateBMPFromFile, CreateBMPFromFile, "([ILjava/lang/String;)[I", 16, HBITMAP(const char*))
CORVANE_METHOD(SaveBMPToFile, SaveBMPToFile, "([IIILjava/lang/String;I)V", 28, void(HBITMAP, const char*, int))
CORVANE_METHOD(CreateBMPFromWSQByteArray, CreateBMPFromWSQByteArray, "([I[B)[I", 16, HBITMAP(unsigned char*, int))
CORVANE_METHOD(SaveWSQByteArrayToImageFile, SaveWSQByteArrayToImageFile, "([BLjava/lang/String;I)I", 20, int(unsigned char*, int, const char*, int))
CORVANE_METHOD(WSQ_decode_stream, WSQ_1decode_1stream, "([B[I)[B", 16, void(unsigned char*, int, unsigned char**, int*, int*, int*, std::uint32_t*))
CORVANE_METHOD(WSQ_encode_stream, WSQ_1encode_1stream, "([BIIDILjava/lang/String;)[B", 36, void(unsigned char*, int, int, double, int, const char*, unsigned char**, int*))

CORVANE_METHOD(ConvertHBITMAPtoGrayScale256, ConvertHBITMAPtoGrayScale256, "([I[III)[I", 24, HBITMAP(HBITMAP))
CORVANE_METHOD(SaveHBITMAPtoFileAsGrayScale256BMP, SaveHBITMAPtoFileAsGrayScale256BMP, "([IIILjava/lang/String;)I", 24, int(HBITMAP, const char*))

#undef CORVANE_METHOD
