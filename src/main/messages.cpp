#include "main/messages.h"

#include <algorithm>
#include <iostream>

#include "kelvane/kelvane.h"
#include "main/options.h"

namespace kelvane {

namespace {

void say(const std::string& line) { std::cout << line << std::endl; }

std::string braced(const char* text) { return std::string("{") + text + "}"; }

// Words of a paragraph on lines of at most 88 characters, every line after `first` indented
// by `indent`.
void say_wrapped(const std::string& first, const std::string& text, std::size_t indent) {
  std::string line = first;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (line.size() > indent && line.size() + 1 + word.size() > 88) {
      say(line);
      line = std::string(indent, ' ');
    }
    line += (line.size() > indent && line.back() != ' ' ? " " : "") + word;
    start = end + 1;
  }
  say(line);
}

}  // namespace

void print_usage() {
  say("Usage:");
  say("kelvane {algorithm} {input} {output} {arg}*");
}

void print_help() {
  print_usage();
  say("kelvane [options] {algorithm} {input} {output} {arg}*");
  say("kelvane [options] --preset NAME {input} {output}");
  say("");
  say("Levels uneven brightness and contrast: every pixel is moved so that the statistics of");
  say("the square window around it take reference values, either the statistics of the whole");
  say("channel (one window) or those of a second window around the same pixel (two windows).");
  say("");
  say("Algorithms and their arguments after {input} {output}:");
  for (const AlgorithmInfo& a : algorithm_info()) {
    const std::string method = a.takes_method ? " {method}" : "";
    say("  " + a.name + " {window}" + method + "  |  " + a.name + " {window1} {window2}" + method);
    say("      matches the " + a.matches);
  }
  say("The _fn algorithms level one gray channel made from red, green and blue with {method}");
  say("and rescale every channel by corrected gray / gray, keeping hues. A picture without");
  say("three colour channels is leveled channel by channel instead, after a warning.");
  say("Alpha (a channel the file marks as such: PNG and TIFF transparency, an A channel) is");
  say("kept as it is and written back where the output holds it; JPEG, PNM, BMP, HDR and FITS");
  say("outputs get the colour channels only. So an RGBA picture is leveled as RGB by every");
  say("algorithm, and a gray picture with alpha as gray. Colours stored multiplied by alpha");
  say("(associated alpha: such TIFFs, every OpenEXR) are divided by it first and multiplied");
  say("again where the output declares them so.");
  say("");
  say("Gray methods:");
  for (const GrayMethodInfo& m : gray_method_info())
    say("  " + m.name + std::string(11 - m.name.size(), ' ') + m.description);
  say("");
  say("Windows: a window of w pixels spans w/2 pixels on each side of a pixel (31 and 30 both");
  say("span 15), clipped at the borders. 0 or 1 is the pixel alone; a negative number means");
  say("the whole picture. With two windows, the statistics of {window1} are removed and those");
  say("of {window2} imposed. The soft minimum and maximum are power means of order 10.");
  say("A window may be a share of the picture's shorter side, 5% or 12.5%: the odd number of");
  say("pixels nearest to it, picture by picture, so that pictures of any size are leveled alike.");
  say("");
  say("Choosing (scripts/bench --quality measures it; the README has the figures): for pages");
  say("to be read, --preset document (--max-gain 2 std 10%): Tesseract misread 1.4% of the");
  say("characters of shaded pages against 39.5% untreated. Capped std or range, or mean, with a");
  say("window of about 10% of the shorter side (a line and a half of text) all read well;");
  say("uncapped minmax and range, and windows of 31 pixels, turn paper grain into letters");
  say("(minmax 31: 79% misread). For telescope and microscope frames with vignetting,");
  say("--preset frame (mean 20%): 5 dB closer to the evenly lit frame. For photographs of");
  say("scenes no setting brought a shaded photograph closer to its unshaded self: leveling");
  say("changes their look (std and the _fn forms even out contrast; _fn keeps hues). A");
  say("window is two to three times the largest detail to keep; a smaller one flattens more.");
  say("");
  say("Presets (--preset NAME {input} {output}):");
  for (const Preset& p : presets()) say("  " + p.name + std::string(p.name.size() < 10 ? 10 - p.name.size() : 1, ' ') + p.description);
  say("");
  say("Gain: std, minmax and range multiply a value's distance from its local reference by a");
  say("factor that grows without bound as a region gets flat, so paper grain becomes noise:");
  say("  std     v <- ((v - m) * (T / s)) + M      m, s: local mean and deviation; M, T: target");
  say("  range   v <- M + ((v - m) / L) * D        L: local soft range; D: target soft range");
  say("  minmax  v <- Tmin + ((v - Lmin) / L) * D  Lmin, Tmin: local and target soft minimum");
  say("With --max-gain G, where the factor (T / s, or D / L) is above G:");
  say("  std     v <- ((v - m) * G) + M");
  say("  range   v <- M + (v - m) * G");
  say("  minmax  v <- (Tmin + p * (D - G * L)) + (v - Lmin) * G,  p = (Lmin - Tmin) / (D - L)");
  say("          clamped to [0, 1]: the window's range, stretched by G, keeps its place in the");
  say("          target range, so blank paper stays light and a dark background dark.");
  say("Flat windows (deviation or soft range at most 1e-6) take the target as before.");
  say("");
  say("Options (before the algorithm; --name value or --name=value, and -- ends them):");
  for (const auto& o : option_rules) {
    const std::string head = "  " + std::string(o.name) + (o.alias ? ", " + std::string(o.alias) : "") +
                             (o.value ? " " + std::string(o.value) : "");
    say_wrapped(head + std::string(head.size() < 26 ? 26 - head.size() : 1, ' '), o.help, 26);
  }
  say("");
  say("Values: integer samples of b bits load as code / (2^b - 1) (a PNM's as code / maxval),");
  say("signed ones as (code + 2^(b-1)) / (2^b - 1), floating-point samples as they are (1.0 is");
  say("white); results are clamped only when saved as integers. Integer outputs get 8-bit");
  say("samples for inputs of 8 bits or fewer and 16-bit samples for deeper or floating-point");
  say("inputs where the format holds them; TIFF and FITS keep an integer input's type, signed");
  say("or not; floating-point inputs stay floating-point where the format holds them, half");
  say("floats half in TIFF and OpenEXR. .cimg and .asc hold value * 255, whatever the input.");
  say("FITS: unsigned data (8 bits, or BZERO 32768 or 2^31) and signed data as above, other");
  say("BSCALE and BZERO (and 64-bit integers) as the physical values; its first row is the");
  say("bottom of the picture.");
  say("");
  say_wrapped("Reads:", readable_formats() + ".", 2);
  std::string extensions;
  for (const std::string& extension : writable_extensions()) extensions += (extensions.empty() ? "." : ", .") + extension;
  say_wrapped("Writes (by the output's extension):", extensions + ".", 2);
  say("Every page of a multi-page file is leveled on its own and written back page by page.");
  say("Metadata travels whole where the output holds it: colour profile, every Exif tag, XMP,");
  say("IPTC, resolution with its unit, comments and texts (mapped between PNG texts, JPEG");
  say("comments and TIFF descriptions, each in its own encoding), a PNG's gAMA, cHRM and sRGB.");
  say("The Exif thumbnail, which shows the old pixels, is dropped. CMYK pictures are read as");
  say("RGB (through their profile where they have one), a gray picture gets three equal");
  say("channels in formats of RGB only, and .pgm refuses colour.");
  say("Orientation: TIFF and JPEG outputs keep the tag and the pixels as they are; any other");
  say("output gets the picture turned as it is shown, with no tag to turn it again.");
  say("An output of the input's format keeps its encoding: a TIFF's lossless compression, a");
  say("JPEG's chroma subsampling, a lossless WebP; the options below override them.");
  say("An existing output file is replaced only once the new one is completely written.");
  say("");
  say("A folder as {input} levels every picture in it (and in its folders) into the same paths");
  say("under the folder {output}, several small pictures at once. A file is a picture when its");
  say("first bytes or its extension say so: one named as a picture that cannot be read (damaged,");
  say("empty, a dangling link) fails with its Error line and does not stop the others. Hidden");
  say("files and folders (names starting with a dot) are skipped, as ls skips them. A summary");
  say("line ends the run, counting the files that were not pictures. The output folder cannot");
  say("be the input folder, and a run in which two pictures would be written to one output");
  say("(--format png with x.png and x.jpg, or x.png and x.PNG where the output folder ignores");
  say("case) is refused before anything is written. A link to a picture is leveled into the");
  say("link's own path. On a terminal, a run longer than two seconds shows a progress line on");
  say("standard error. Ctrl-C stops a folder run between pictures and says how far it got;");
  say("only complete outputs are left.");
  say("");
  say("Environment: KELVANE_THREADS (threads, default every core), KELVANE_MEMORY_LIMIT_MB (the");
  say("memory a run may use), KELVANE_PROGRESS_DELAY (seconds before the progress line).");
  say("");
  say("Exit status: 0 output written (or help shown), 1 input or output trouble (in a folder:");
  say("a picture failed), 2 command line not understood (or two pictures for one output).");
  say("");
  say("Examples:");
  say("  kelvane mean scan.png even.png 31");
  say("  kelvane std_fn photo.jpg balanced.jpg 41 y709");
  say("  kelvane range frame.tif flat.tif 15 101");
  say("  kelvane --preset document page.png clean.png");
  say("  kelvane --max-gain 2 std page.png clean.png 10%");
  say("  kelvane --format png --skip-existing mean scans/ leveled/ 31");
}

void print_version() { say("kelvane " + version()); }

void warn_no_input_file() { say("Warning: No input file specified"); }

void warn_missing_file(const char* path) {
  say("Warning: File " + braced(path) + " does not exist.");
}

void warn_illegal_function(const char* keyword) {
  say("Warning: Illegal function: " + braced(keyword) + ". Try {mean}.");
}

void warn_parameter_count(const char* keyword, int count) {
  say("Warning: Function " + braced(keyword) + " does not take " + std::to_string(count) +
      " parameters.");
}

void warn_illegal_method(const char* name) {
  say("Warning: Illegal method: " + braced(name) + ". Try {value}.");
}

void warn_illegal_window(const char* text) {
  say("Warning: Illegal window: " + braced(text) + ". Try {31}.");
}

void warn_unknown_option(const char* option) {
  say("Warning: Unknown option " + braced(option) + ". Try {--help}.");
}

void warn_illegal_option_value(const char* option, const char* value, const char* example) {
  say("Warning: Illegal value " + braced(value) + " for " + option + ". Try " + braced(example) + ".");
}

void warn_option_takes_no_value(const char* option) {
  say(std::string("Warning: Option ") + option + " takes no value.");
}

void warn_option_after_arguments(const char* word) {
  say("Warning: Option " + braced(word) + " comes after the algorithm; options go before it, as in "
      "kelvane --max-gain 4 std in.png out.png 31.");
}

void warn_preset_arguments(const char* preset) {
  say(std::string("Warning: Preset ") + braced(preset) + " takes {input} {output} only.");
}

void warn_channel_by_channel() { say("Warning: image does not have 3 channels"); }

void warn_channel_by_channel_of(const char* path) {
  say(std::string("Warning: image does not have 3 channels: ") + path);
}

void note_gain_ignored(const char* keyword) {
  std::cerr << "Note: " << keyword << " moves values without stretching them, so --max-gain changes nothing."
            << std::endl;
}

void note_folder_options_ignored() {
  std::cerr << "Note: --format and --skip-existing apply to a folder given as input; a single picture's output is "
               "written in the format of its extension."
            << std::endl;
}

void say_note(const std::string& note) { std::cerr << "Note: " << note << std::endl; }

void say_line(const std::string& line) { say(line); }

void report_error(const std::string& message) { std::cerr << "Error: " << message << std::endl; }

}  // namespace kelvane
