package wsq_sun_java;

/**
 * The image library {@code Corvane.dll}, through the demo binding of the
 * bridge {@code Corvane_jniexport32.dll}.
 *
 * <p>Every method has the contract of the method of the same name in
 * {@link Corvane}: loading, failure reports and failure results, caller errors
 * as Java exceptions, text, pixels and threads. The demo binding differs in
 * two points:
 * <ul>
 *   <li>Pixels handed to the image library ({@code SaveBMPToFile},
 *       {@code ConvertHBITMAPtoGrayScale256},
 *       {@code SaveHBITMAPtoFileAsGrayScale256BMP}) become a 24-bit bitmap:
 *       bits 24&ndash;31 of each element are dropped, and a width or height of
 *       0 or below makes no bitmap ("Unable to create HBITMAP"). That bitmap
 *       stays valid for the image library until the next of these three calls
 *       in the process; the three are serialised.</li>
 *   <li>After a completed call only the x87 control word is reset (pending x87
 *       exceptions cleared first); MXCSR stays as the image library left it.</li>
 * </ul>
 */
public final class Tessaly {
  static {
    System.loadLibrary("Corvane_jniexport32");
  }

  private Tessaly() {}

  /** See {@link Corvane#WriteWSQ_bitrate(double)}. */
  public static native void WriteWSQ_bitrate(double bitrate);

  /** See {@link Corvane#ReadWSQ_bitrate()}. */
  public static native double ReadWSQ_bitrate();

  /** See {@link Corvane#WriteWSQ_ppi(int)}. */
  public static native void WriteWSQ_ppi(int ppi);

  /** See {@link Corvane#ReadWSQ_ppi()}. */
  public static native int ReadWSQ_ppi();

  /** See {@link Corvane#WriteWSQ_comment(String)}. */
  public static native void WriteWSQ_comment(String comment);

  /** See {@link Corvane#ReadWSQ_comment()}. */
  public static native String ReadWSQ_comment();

  /** See {@link Corvane#WriteTIFFcompression(int)}. */
  public static native void WriteTIFFcompression(int compression);

  /** See {@link Corvane#WriteTIFFpredictor(int)}. */
  public static native void WriteTIFFpredictor(int predictor);

  /** See {@link Corvane#SetShowFilePropertiesDialog(int)}. */
  public static native void SetShowFilePropertiesDialog(int show);

  /** See {@link Corvane#ShowFileConverter()}. */
  public static native void ShowFileConverter();

  /** See {@link Corvane#CreateBMPFromFile(int[],String)}. */
  public static native int[] CreateBMPFromFile(int[] sizeArray, String fileName);

  /** See {@link Corvane#SaveBMPToFile(int[],int,int,String,int)}. */
  public static native void SaveBMPToFile(int[] pixels, int width, int height, String fileName, int flags);

  /** See {@link Corvane#CreateBMPFromWSQByteArray(int[],byte[])}. */
  public static native int[] CreateBMPFromWSQByteArray(int[] sizeArray, byte[] wsq);

  /** See {@link Corvane#SaveWSQByteArrayToImageFile(byte[],String,int)}. */
  public static native int SaveWSQByteArrayToImageFile(byte[] wsq, String fileName, int flags);

  /** See {@link Corvane#WSQ_decode_stream(byte[],int[])}. */
  public static native byte[] WSQ_decode_stream(byte[] wsq, int[] infoArray);

  /** See {@link Corvane#WSQ_encode_stream(byte[],int,int,double,int,String)}. */
  public static native byte[] WSQ_encode_stream(byte[] pixels, int width, int height, double bitrate, int ppi, String comment);

  /** See {@link Corvane#ConvertHBITMAPtoGrayScale256(int[],int[],int,int)}. */
  public static native int[] ConvertHBITMAPtoGrayScale256(int[] sizeArray, int[] pixels, int width, int height);

  /** See {@link Corvane#SaveHBITMAPtoFileAsGrayScale256BMP(int[],int,int,String)}. */
  public static native int SaveHBITMAPtoFileAsGrayScale256BMP(int[] pixels, int width, int height, String fileName);
}
