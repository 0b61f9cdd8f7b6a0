// make_golden_records: records the golden session of every model kernel
// variant against a fresh osa_plugin child, one record file per variant
// (<dir>/<variant>.rec), for the plug-in's playback mode to replay. With
// --check it writes nothing and reports the variants whose record differs.
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "debugger/session.h"
#include "model/kernel_builder.h"
#include "tools/debugger_script.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFailed = 2;   // a session failed or a record could not be written
constexpr int kExitDiffers = 3;  // --check: a record is not what the plug-in says now

// The variants that keep a golden record: between them every layout axis of
// the model (pending mask or list, in the core or its union, 32 or 64 tasks,
// byte order, FPU frames, pool cores, interface version 3 with a mask byte
// size) appears; the whole-stack tests cover every variant. The 64-task mask
// kernel is kept in its big-endian form (v1-mask-union-64-be), which has all
// that v1-mask-union-64 has plus two-word masks read in big-endian order and
// timers with repeat_ticks.
constexpr std::string_view kGoldenVariants[] = {
    "v1-mask-core-32",       "v1-mask-union-64-be",
    "v1-list-core-32-be",    "v1-list-union-64-nopoolcore",
    "v1-mask-core-32-nofpu", "v3-32-maskbytes",
};

struct Options {
  std::string pluginPath;
  std::string outDir;
  std::vector<std::string> variants;  // empty: kGoldenVariants
  bool check = false;
};

void Usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s --plugin PATH --out DIR [--variant NAME]... [--check]\n"
               "  Records the golden session of each kept model kernel variant (or of\n"
               "  the --variant names) into DIR/<variant>.rec; --check compares\n"
               "  instead of writing.\n",
               program);
}

bool ParseOptions(int argc, char** argv, Options* options) {
  for (int index = 1; index < argc; ++index) {
    const std::string_view option = argv[index];
    const bool takesValue = option == "--plugin" || option == "--out" || option == "--variant";
    if (takesValue && index + 1 >= argc) return false;
    if (option == "--plugin") {
      options->pluginPath = argv[++index];
    } else if (option == "--out") {
      options->outDir = argv[++index];
    } else if (option == "--variant") {
      options->variants.emplace_back(argv[++index]);
    } else if (option == "--check") {
      options->check = true;
    } else {
      return false;
    }
  }
  return !options->pluginPath.empty() && !options->outDir.empty();
}

bool ReadFile(const std::string& path, std::string* text) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  *text = content.str();
  return true;
}

// Runs the golden session of one variant; the record's text goes to *record.
bool RecordVariant(const Options& options, const std::string& variant, std::string* record,
                   std::uint64_t* lines, std::string* error) {
  model::TargetModel target;
  if (!model::BuildKernelModel(variant, &target, error)) return false;
  DbgSessionOptions sessionOptions;
  sessionOptions.transport = DbgTransport::kPipe;
  sessionOptions.pluginPath = options.pluginPath;
  sessionOptions.record = true;
  std::unique_ptr<DbgSession> session;
  if (!DbgSessionOpen(sessionOptions, &target, &session, error)) return false;
  const bool conversed = ScriptGoldenSession(session.get(), target.manifest, error);
  const int exitCode = DbgSessionClose(session.get());
  if (!conversed) return false;
  if (exitCode != 0) {
    *error = "the plug-in ended with exit code " + std::to_string(exitCode);
    return false;
  }
  *record = session->record;
  *lines = session->recordLines;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    Usage(argc > 0 ? argv[0] : "make_golden_records");
    return kExitUsage;
  }
  if (options.variants.empty()) {
    for (const std::string_view name : kGoldenVariants)
      options.variants.emplace_back(name);
  }
  int code = kExitOk;
  for (const std::string& variant : options.variants) {
    std::string record;
    std::uint64_t lines = 0;
    std::string error;
    if (!RecordVariant(options, variant, &record, &lines, &error)) {
      std::fprintf(stderr, "%s: %s\n", variant.c_str(), error.c_str());
      code = kExitFailed;
      continue;
    }
    const std::string path = options.outDir + "/" + variant + ".rec";
    if (options.check) {
      std::string existing;
      if (!ReadFile(path, &existing) || existing != record) {
        std::printf("%s: differs from a fresh recording (run without --check to record it again)\n",
                    path.c_str());
        if (code == kExitOk) code = kExitDiffers;
      } else {
        std::printf("%s: unchanged (%llu lines)\n", path.c_str(),
                    static_cast<unsigned long long>(lines));
      }
      continue;
    }
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(record.data(), static_cast<std::streamsize>(record.size()));
    file.close();
    if (!file) {
      std::fprintf(stderr, "%s: cannot write %s\n", variant.c_str(), path.c_str());
      code = kExitFailed;
      continue;
    }
    std::printf("%s: %llu lines\n", path.c_str(), static_cast<unsigned long long>(lines));
  }
  return code;
}
