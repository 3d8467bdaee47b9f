#include "main/messages.h"

#include <iostream>

#include "gray/gray_methods.h"
#include "main/dispatch.h"

#ifndef KELVANE_VERSION
#define KELVANE_VERSION "unknown"
#endif

namespace {

void say(const std::string& line) { std::cout << line << std::endl; }

std::string braced(const char* text) { return std::string("{") + text + "}"; }

}  // namespace

void print_usage() {
  say("Usage:");
  say("kelvane {algorithm} {input} {output} {arg}*");
}

void print_help() {
  print_usage();
  say("");
  say("Levels uneven brightness and contrast: every pixel is moved so that the statistics of");
  say("the square window around it take reference values, either the statistics of the whole");
  say("channel (one window) or those of a second window around the same pixel (two windows).");
  say("");
  say("Algorithms and their arguments after {input} {output}:");
  for (const auto& a : algorithms) {
    const std::string method = a.takes_method ? " {method}" : "";
    say("  " + std::string(a.keyword) + " {window}" + method + "  |  " + a.keyword +
        " {window1} {window2}" + method);
    say("      matches the " + std::string(a.matches));
  }
  say("The _fn algorithms level one gray channel made from red, green and blue with {method}");
  say("and rescale every channel by corrected gray / gray, keeping hues. A picture without");
  say("three colour channels is leveled channel by channel instead, after a warning.");
  say("A fourth channel (alpha) is leveled like a colour by the plain algorithms and rescaled");
  say("by the gray ratio by the _fn algorithms.");
  say("");
  say("Gray methods:");
  for (const auto& m : gray_methods) {
    const std::string keyword = m.keyword;
    say("  " + keyword + std::string(11 - keyword.size(), ' ') + m.description);
  }
  say("");
  say("Windows: a window of w pixels spans w/2 pixels on each side of a pixel (31 and 30 both");
  say("span 15), clipped at the borders. 0 or 1 is the pixel alone; a negative number means");
  say("the whole picture. With two windows, the statistics of {window1} are removed and those");
  say("of {window2} imposed. The soft minimum and maximum are power means of order 10.");
  say("");
  say("Values are scaled to [0,1] on loading (8-bit files by 255, 16-bit files by 65535) and");
  say("clamped on saving. Formats: PNG, JPEG, TIFF, PNM (pbm/pgm/ppm/pnm), PFM, BMP, .cimg, .asc;");
  say("the output's format follows its extension, and 16-bit inputs give 16-bit outputs where");
  say("the format allows. A multi-page TIFF is leveled page by page. An existing output file is");
  say("replaced only once the new one is completely written.");
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

void report_error(const std::string& message) { std::cerr << "Error: " << message << std::endl; }
