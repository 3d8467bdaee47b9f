#include "main/options.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "main/messages.h"

namespace kelvane {

namespace {

// A whole number in [low, high], or false.
bool whole_number(const char* text, long low, long high, int& value) {
  char* end = nullptr;
  const long n = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || n < low || n > high) return false;
  value = static_cast<int>(n);
  return true;
}

// A finite number of at least `low`, or false.
bool number_at_least(const char* text, double low, double& value) {
  char* end = nullptr;
  const double n = std::strtod(text, &end);
  if (end == text || *end != '\0' || !std::isfinite(n) || n < low) return false;
  value = n;
  return true;
}

bool one_of(const char* text, std::initializer_list<const char*> choices) {
  for (const char* c : choices)
    if (std::strcmp(text, c) == 0) return true;
  return false;
}

}  // namespace

const std::vector<OptionRule> option_rules = {
    {"--level-alpha", nullptr, nullptr, nullptr,
     "level an alpha channel like a colour (and rescale it by the gray ratio in the _fn "
     "algorithms) instead of keeping it as it is",
     [](CommandLine& o, const char*) { return o.level_alpha = true; }},
    {"--max-gain", nullptr, "G", "4",
     "std, minmax and range: multiply a value's distance from its local reference by at most G "
     "(a number of at least 1), so that blank paper and flat sky are not stretched into noise. "
     "The factor, target deviation / local deviation (std) or target soft range / local soft range "
     "(minmax, range), becomes G where it is larger; see Gain above. Default: no limit",
     [](CommandLine& o, const char* v) { return number_at_least(v, 1.0, o.max_gain); }},
    {"--preset", nullptr, "NAME", "document",
     "level with the settings of a preset (see Presets above) instead of an algorithm and its arguments: "
     "kelvane --preset NAME {input} {output}. --max-gain and --level-alpha still apply",
     [](CommandLine& o, const char* v) {
       o.preset = v;
       for (const Preset& p : presets())
         if (p.name == v) return true;
       return false;
     }},
    {"--jpeg-quality", nullptr, "Q", "90", "quality of JPEG outputs (and of lossy WebP and HEIF ones), 1 to 100 (default 100)",
     [](CommandLine& o, const char* v) { return whole_number(v, 1, 100, o.options.jpeg_quality); }},
    {"--png-compression", nullptr, "N", "2",
     "zlib level of PNG outputs, 0 (none) to 9 (smallest), rows filtered by their left neighbours. "
     "Default 2: on the sample pictures its files are 6 to 17% larger than level 6's, written in a "
     "third of the time on a 24-megapixel picture",
     [](CommandLine& o, const char* v) { return whole_number(v, 0, 9, o.options.png_compression); }},
    {"--jpeg-subsampling", nullptr, "S", "4:2:0",
     "chroma subsampling of JPEG outputs: 4:4:4 (none) or 4:2:0. Default: a JPEG input's own (4:2:2 and the "
     "like become 4:2:0), else none at quality 90 and above and 4:2:0 below",
     [](CommandLine& o, const char* v) {
       o.options.jpeg_subsampling = v;
       return one_of(v, {"4:4:4", "4:2:0"});
     }},
    {"--webp", nullptr, "KIND", "lossless",
     "WebP outputs lossless or lossy (at --jpeg-quality). Default: a WebP input's own kind, else lossy",
     [](CommandLine& o, const char* v) {
       o.options.webp = v;
       return one_of(v, {"lossless", "lossy"});
     }},
    {"--tiff-compression", nullptr, "NAME", "zip",
     "compression of TIFF outputs: none, lzw, zip or packbits (default: the input TIFF's own "
     "lossless compression, none for other inputs)",
     [](CommandLine& o, const char* v) {
       o.options.tiff_compression = v;
       return one_of(v, {"none", "lzw", "zip", "packbits"});
     }},
    {"--format", nullptr, "EXT", "png",
     "with a folder as input: give every output this extension (png, tif, jpg, ...) instead of its "
     "input's",
     [](CommandLine& o, const char* v) {
       o.folder.format = v[0] == '.' ? v + 1 : v;
       return writes_extension(o.folder.format);
     }},
    {"--skip-existing", nullptr, nullptr, nullptr,
     "with a folder as input: leave an output that is newer than its input as it is, so that an "
     "interrupted run can be resumed",
     [](CommandLine& o, const char*) { return o.folder.skip_existing = true; }},
    {"--help", "-h", nullptr, nullptr, "this text", [](CommandLine& o, const char*) { return o.help = true; }},
    {"--version", nullptr, nullptr, nullptr, "the version", [](CommandLine& o, const char*) { return o.version = true; }},
};

CommandLine command_line_from_environment() {
  CommandLine command_line;
  int threads = 0;
  if (const char* text = std::getenv("KELVANE_THREADS"))
    if (whole_number(text, 1, 256, threads)) command_line.options.threads = static_cast<unsigned>(threads);
  if (const char* text = std::getenv("KELVANE_MEMORY_LIMIT_MB")) {
    const double megabytes = std::strtod(text, nullptr);
    if (megabytes > 0) command_line.options.memory_limit = static_cast<unsigned long long>(megabytes * 1048576.0);
  }
  if (const char* text = std::getenv("KELVANE_PROGRESS_DELAY")) {
    char* end = nullptr;
    const double seconds = std::strtod(text, &end);
    if (end != text && seconds >= 0) command_line.progress_delay = seconds;
  }
  return command_line;
}

const OptionRule* option_named(const char* word) {
  const char* equals = std::strchr(word, '=');
  const std::size_t length = equals && word[1] == '-' ? static_cast<std::size_t>(equals - word) : std::strlen(word);
  for (const OptionRule& rule : option_rules)
    if ((std::strlen(rule.name) == length && std::strncmp(word, rule.name, length) == 0) ||
        (rule.alias && std::strcmp(word, rule.alias) == 0))
      return &rule;
  return nullptr;
}

int parse_options(int argc, char** argv, CommandLine& options) {
  int i = 1;
  for (; i < argc && argv[i][0] == '-' && argv[i][1] != '\0'; ++i) {
    if (std::strcmp(argv[i], "--") == 0) {
      options.end_of_options = true;
      return i + 1;
    }
    const OptionRule* rule = option_named(argv[i]);
    if (!rule) {
      warn_unknown_option(argv[i]);
      return -1;
    }
    // --name=value, or --name value.
    const char* equals = argv[i][1] == '-' ? std::strchr(argv[i], '=') : nullptr;
    if (equals && !rule->value) {
      warn_option_takes_no_value(rule->name);
      return -1;
    }
    const char* value = equals ? equals + 1 : rule->value && i + 1 < argc ? argv[++i] : "";
    if ((rule->value && value[0] == '\0') || !rule->apply(options, value)) {
      warn_illegal_option_value(rule->name, value, rule->example);
      return -1;
    }
  }
  return i;
}

}  // namespace kelvane
