import wsq_sun_java.Corvane;
import wsq_sun_java.Tessaly;

/**
 * Loads one binding through its Java class, as an application does, and
 * calls through it: proves that the JVM binds the exported names. The image
 * library double answers each read with the value last written.
 */
public final class BindingCheck {
  private static void expect(boolean ok, String what) {
    if (!ok) {
      throw new AssertionError(what);
    }
  }

  public static void main(String[] args) {
    final String comment = "caf\u00e9 \u0000 \uD83D\uDE00";
    final double bitrate = -0.75;
    switch (args[0]) {
      case "demo":
        Tessaly.WriteWSQ_ppi(-321);
        expect(Tessaly.ReadWSQ_ppi() == -321, "demo: ppi");
        Tessaly.WriteWSQ_bitrate(bitrate);
        expect(Double.doubleToRawLongBits(Tessaly.ReadWSQ_bitrate()) == Double.doubleToRawLongBits(bitrate),
            "demo: bit rate");
        Tessaly.WriteWSQ_comment(comment);
        expect(comment.equals(Tessaly.ReadWSQ_comment()), "demo: comment");
        break;
      case "library":
        Corvane.WriteWSQ_ppi(-321);
        expect(Corvane.ReadWSQ_ppi() == -321, "library: ppi");
        Corvane.WriteWSQ_bitrate(bitrate);
        expect(Double.doubleToRawLongBits(Corvane.ReadWSQ_bitrate()) == Double.doubleToRawLongBits(bitrate),
            "library: bit rate");
        Corvane.WriteWSQ_comment(comment);
        expect(comment.equals(Corvane.ReadWSQ_comment()), "library: comment");
        break;
      default:
        throw new IllegalArgumentException(args[0]);
    }
    System.out.println(args[0] + ": bound and called");
  }
}
