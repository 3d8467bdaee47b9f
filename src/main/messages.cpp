#include "main/messages.h"

#include <algorithm>
#include <iostream>

#include "files/output_format.h"
#include "files/picture_reader.h"
#include "gray/gray_methods.h"
#include "leveling/algorithms.h"
#include "main/options.h"

namespace kelvane {

#ifndef KELVANE_VERSION
#define KELVANE_VERSION "unknown"
#endif

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
  say("");
  say("Levels uneven brightness and contrast: every pixel is moved so that the statistics of");
  say("the square window around it take reference values, either the statistics of the whole");
  say("channel (one window) or those of a second window around the same pixel (two windows).");
  say("");
  say("Algorithms and their arguments after {input} {output}:");
  for (const auto& a : algorithm_table) {
    const std::string method = a.takes_method ? " {method}" : "";
    say("  " + std::string(a.keyword) + " {window}" + method + "  |  " + a.keyword +
        " {window1} {window2}" + method);
    say("      matches the " + std::string(a.matches));
  }
  say("The _fn algorithms level one gray channel made from red, green and blue with {method}");
  say("and rescale every channel by corrected gray / gray, keeping hues. A picture without");
  say("three colour channels is leveled channel by channel instead, after a warning.");
  say("Alpha (a channel the file marks as such: PNG and TIFF transparency, an A channel) is");
  say("kept as it is and written back where the output holds it; JPEG, PNM, BMP and HDR");
  say("outputs get the colour channels only. So an RGBA picture is leveled as RGB by every");
  say("algorithm, and a gray picture with alpha as gray.");
  say("");
  say("Gray methods:");
  for (const auto& m : gray_method_table) {
    const std::string keyword = m.keyword;
    say("  " + keyword + std::string(11 - keyword.size(), ' ') + m.description);
  }
  say("");
  say("Windows: a window of w pixels spans w/2 pixels on each side of a pixel (31 and 30 both");
  say("span 15), clipped at the borders. 0 or 1 is the pixel alone; a negative number means");
  say("the whole picture. With two windows, the statistics of {window1} are removed and those");
  say("of {window2} imposed. The soft minimum and maximum are power means of order 10.");
  say("");
  say("Options (before the algorithm):");
  for (const auto& o : option_specs) {
    const std::string head = "  " + std::string(o.name) + (o.alias ? ", " + std::string(o.alias) : "") +
                             (o.value ? " " + std::string(o.value) : "");
    say_wrapped(head + std::string(head.size() < 26 ? 26 - head.size() : 1, ' '), o.help, 26);
  }
  say("");
  say("Values: integer samples of b bits load as code / (2^b - 1) (a PNM's as code / maxval),");
  say("floating-point samples as they are (1.0 is white); results are clamped only when saved");
  say("as integers. Integer outputs get 8-bit samples for inputs of 8 bits or fewer and 16-bit");
  say("samples for deeper or floating-point inputs where the format holds them; floating-point");
  say("inputs stay floating-point in TIFF, and PFM, EXR, HDR and FITS outputs hold the values");
  say("as they are. .cimg and .asc hold value * 255, whatever the input was.");
  say("");
  say_wrapped("Reads:", std::string(readable_formats) + ".", 2);
  say_wrapped("Writes (by the output's extension):", writable_extensions() + ".", 2);
  say("Every page of a multi-page file is leveled on its own and written back page by page;");
  say("colour profile, Exif (with the orientation; pixels are not turned), resolution and");
  say("comments are carried over where the output holds them. CMYK pictures are read as RGB.");
  say("An existing output file is replaced only once the new one is completely written.");
  say("");
  say("Exit status: 0 output written (or help shown), 1 input or output trouble,");
  say("2 command line not understood.");
  say("");
  say("Examples:");
  say("  kelvane mean scan.png even.png 31");
  say("  kelvane std_fn photo.jpg balanced.jpg 41 y709");
  say("  kelvane range frame.tif flat.tif 15 101");
}

void print_version() { say("kelvane " KELVANE_VERSION); }

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

void warn_channel_by_channel() { say("Warning: image does not have 3 channels"); }

void report_error(const std::string& message) { std::cerr << "Error: " << message << std::endl; }

}  // namespace kelvane
