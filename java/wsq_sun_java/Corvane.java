package wsq_sun_java;

/**
 * The image library {@code Corvane.dll}, through the library binding of the
 * bridge {@code Corvane_jniexport32.dll}.
 *
 * <p>Loading this class loads {@code Corvane_jniexport32} from
 * {@code java.library.path}. The bridge loads {@code Corvane.dll} on the first
 * native call, by the system's standard DLL search for the bare name
 * "Corvane" (the application's directory first; put {@code Corvane.dll}
 * beside {@code java.exe}, in the system directories, or in a folder on
 * {@code PATH}).
 *
 * <p><b>Failures.</b> When {@code Corvane.dll} can't be loaded, or lacks the
 * entry point that a method needs, the method shows a message box ("Unable to
 * load Corvane.dll", or "Unable to get p<i>Name</i> function address"),
 * blocks until the user closes it, and returns its failure result: nothing,
 * {@code 0}, {@code +0.0} or {@code null}. The next call tries again. A
 * failure result can't be told from a genuine zero or null result.
 *
 * <p><b>Caller errors</b> are Java exceptions, thrown before the image library
 * is called: a {@code null} argument throws {@link NullPointerException}; an
 * array shorter than the method needs throws
 * {@link ArrayIndexOutOfBoundsException}. When the JVM runs out of memory for
 * a copy or a result, the method returns {@code null} (or its failure result)
 * with {@link OutOfMemoryError} thrown.
 *
 * <p><b>Text</b> crosses as modified UTF-8. Every string handed to the image
 * library stays allocated for the life of the process, because the image
 * library may keep the pointer; so do the bytes of every input byte array.
 *
 * <p><b>Pixels</b> ({@code int[]}) are row-major, top row first, one element
 * per pixel as {@code 0x00RRGGBB}. Width and height travel beside the array:
 * as arguments into a method, and in a {@code sizeArray} of at least two
 * elements ({@code [0]} width, {@code [1]} height) out of it.
 *
 * <p><b>Threads.</b> Every method runs on the calling thread and may be called
 * from any thread; the bridge adds no lock around the image library.
 *
 * <p>After every completed call the calling thread's x87 control word is the
 * default (all exceptions masked but the denormal operand, which keeps its
 * mask; 53-bit precision; rounding to nearest), and so are the exception masks
 * and rounding of MXCSR.
 */
public final class Corvane {
  static {
    System.loadLibrary("Corvane_jniexport32");
  }

  private Corvane() {}

  /**
   * Sets the WSQ bit rate. The value reaches the image library as the same 8
   * bytes, NaN, infinities and negative values included.
   */
  public static native void WriteWSQ_bitrate(double bitrate);

  /** The image library's WSQ bit rate, bit for bit; {@code +0.0} after a failure. */
  public static native double ReadWSQ_bitrate();

  /** Sets the WSQ resolution in pixels per inch, unchanged. */
  public static native void WriteWSQ_ppi(int ppi);

  /** The image library's WSQ resolution in pixels per inch; {@code 0} after a failure. */
  public static native int ReadWSQ_ppi();

  /**
   * Sets the WSQ comment.
   *
   * @throws NullPointerException if {@code comment} is null; the image library is not called
   */
  public static native void WriteWSQ_comment(String comment);

  /**
   * The image library's WSQ comment, as a new string on every call;
   * {@code null} after a failure or when the image library has no text.
   */
  public static native String ReadWSQ_comment();

  /** Sets the TIFF compression value, unchanged. */
  public static native void WriteTIFFcompression(int compression);

  /** Sets the TIFF predictor value, unchanged. */
  public static native void WriteTIFFpredictor(int predictor);

  /** Sets the image library's file-properties dialog flag; all 32 bits reach it unchanged. */
  public static native void SetShowFilePropertiesDialog(int show);

  /** Opens the image library's file-converter dialog and returns when it closes. */
  public static native void ShowFileConverter();

  /**
   * Opens an image file as pixels.
   *
   * @param sizeArray receives the image's width in {@code [0]} and height in {@code [1]}; other
   *     elements are untouched, and so is the array after a failure
   * @return the pixels, width &times; height elements; {@code null} after a failure ("Unable to
   *     get HBITMAP" when the image library can't open the file)
   * @throws NullPointerException if an argument is null
   * @throws ArrayIndexOutOfBoundsException if {@code sizeArray} has fewer than two elements
   */
  public static native int[] CreateBMPFromFile(int[] sizeArray, String fileName);

  /**
   * Saves pixels as an image file; the last argument is passed to the image library unchanged.
   * Java learns nothing of whether the file was written.
   *
   * @throws NullPointerException if {@code pixels} or {@code fileName} is null
   * @throws ArrayIndexOutOfBoundsException if {@code width} and {@code height} are positive and
   *     {@code pixels} has fewer than width &times; height elements
   */
  public static native void SaveBMPToFile(int[] pixels, int width, int height, String fileName, int flags);

  /**
   * Opens a WSQ byte stream as pixels.
   *
   * @param sizeArray receives the image's width in {@code [0]} and height in {@code [1]}
   * @return the pixels; {@code null} after a failure ("Unable to get HBITMAP")
   * @throws NullPointerException if an argument is null
   * @throws ArrayIndexOutOfBoundsException if {@code sizeArray} has fewer than two elements
   */
  public static native int[] CreateBMPFromWSQByteArray(int[] sizeArray, byte[] wsq);

  /**
   * Saves a WSQ byte stream as an image file; the last argument is passed on unchanged.
   *
   * @return the image library's result, all 32 bits; {@code 0} after a failure
   * @throws NullPointerException if {@code wsq} or {@code fileName} is null
   */
  public static native int SaveWSQByteArrayToImageFile(byte[] wsq, String fileName, int flags);

  /**
   * Decodes a WSQ byte stream into 8-bit pixels, one byte each.
   *
   * @param infoArray receives width, height and depth in {@code [0]}, {@code [1]}, {@code [2]};
   *     elements from {@code [3]} on are untouched, and so is the array after a failure
   * @return width &times; height bytes; empty when the image library reports no image;
   *     {@code null} after a failure
   * @throws NullPointerException if an argument is null
   * @throws ArrayIndexOutOfBoundsException if {@code infoArray} has fewer than three elements
   *     (the decoded pixels are lost)
   */
  public static native byte[] WSQ_decode_stream(byte[] wsq, int[] infoArray);

  /**
   * Encodes 8-bit pixels, one byte each, into a WSQ byte stream. Width, height, bit rate and
   * resolution reach the image library unchanged.
   *
   * @return the WSQ stream, as long as the image library reports; {@code null} after a failure
   * @throws NullPointerException if {@code pixels} or {@code comment} is null
   * @throws ArrayIndexOutOfBoundsException if {@code width} and {@code height} are positive and
   *     {@code pixels} has fewer than width &times; height bytes
   */
  public static native byte[] WSQ_encode_stream(byte[] pixels, int width, int height, double bitrate, int ppi,
      String comment);

  /**
   * Converts pixels to 256 grey levels.
   *
   * @param sizeArray receives the width in {@code [0]} and height in {@code [1]} of the image
   *     that the image library returns, which may differ from the one passed in
   * @return the converted pixels; {@code null} after a failure ("Unable to create HBITMAP" when no
   *     bitmap can be made of the pixels, "Unable to get HBITMAP" when the image library returns
   *     none)
   * @throws NullPointerException if an array is null
   * @throws ArrayIndexOutOfBoundsException if {@code sizeArray} has fewer than two elements, or
   *     {@code width} and {@code height} are positive and {@code pixels} has fewer than width
   *     &times; height elements
   */
  public static native int[] ConvertHBITMAPtoGrayScale256(int[] sizeArray, int[] pixels, int width, int height);

  /**
   * Saves pixels as a 256-grey-level BMP file.
   *
   * @return the image library's result, all 32 bits; {@code 0} after a failure
   * @throws NullPointerException if {@code pixels} or {@code fileName} is null
   * @throws ArrayIndexOutOfBoundsException if {@code width} and {@code height} are positive and
   *     {@code pixels} has fewer than width &times; height elements
   */
  public static native int SaveHBITMAPtoFileAsGrayScale256BMP(int[] pixels, int width, int height, String fileName);
}
