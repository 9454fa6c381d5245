// libFuzzer target: random sequences of set/clear/query operations on the
// filter registry, checked against a plain model of its rules (file entry by
// basename first, then the first package substring in insertion order, then
// the global threshold; signed comparison).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "logging/levels.hpp"
#include "logging/state.hpp"

namespace {

using logging::Level;

struct Model {
    Level global = Level::info;
    std::map<std::string, Level> files;
    std::vector<std::pair<std::string, Level>> packages;

    bool enabled(Level level, const std::string& path) const {
        const auto slash = path.find_last_of("/\\");
        const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
        Level threshold = global;
        if (const auto it = files.find(base); it != files.end()) {
            threshold = it->second;
        } else {
            for (const auto& [substring, lvl] : packages) {
                if (path.find(substring) != std::string::npos) {
                    threshold = lvl;
                    break;
                }
            }
        }
        return static_cast<int>(level) >= static_cast<int>(threshold);
    }
};

// Reads bytes off the front of the input.
struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::uint8_t byte() {
        if (size == 0) {
            return 0;
        }
        --size;
        return *data++;
    }
    // Short texts over a small alphabet, so that matches are frequent.
    std::string text() {
        static const char alphabet[] = "ko/\\rv.-x";
        std::string out(byte() % 7, ' ');
        for (auto& c : out) {
            c = alphabet[byte() % 9];
        }
        return out;
    }
    Level level() { return static_cast<Level>(static_cast<int>(byte() % 12) - 2); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    logging::logging_initialized = true;
    logging::clear_filters();
    Model model;
    Reader in{data, size};
    while (in.size > 0) {
        switch (in.byte() % 7) {
            case 0: {
                const Level l = in.level();
                logging::set_global_level(l);
                model.global = l;
                break;
            }
            case 1: {
                const std::string name = in.text();
                const Level l = in.level();
                logging::set_file_level(name, l);
                model.files[name] = l;
                break;
            }
            case 2: {
                const std::string name = in.text();
                logging::clear_file_level(name);
                model.files.erase(name);
                break;
            }
            case 3: {
                const std::string package = in.text();
                const Level l = in.level();
                logging::set_package_level(package, l);
                auto it = std::find_if(model.packages.begin(), model.packages.end(),
                                       [&](const auto& e) { return e.first == package; });
                if (it != model.packages.end()) {
                    it->second = l;
                } else {
                    model.packages.emplace_back(package, l);
                }
                break;
            }
            case 4: {
                const std::string package = in.text();
                logging::clear_package_level(package);
                model.packages.erase(
                    std::remove_if(model.packages.begin(), model.packages.end(),
                                   [&](const auto& e) { return e.first == package; }),
                    model.packages.end());
                break;
            }
            case 5:
                logging::clear_filters();
                model = Model{};
                break;
            default: {
                const Level l = in.level();
                const std::string path = in.text() + in.text() + in.text();
                if (logging::is_enabled_for(l, path.c_str()) != model.enabled(l, path)) {
                    std::abort();
                }
                break;
            }
        }
    }
    return 0;
}
