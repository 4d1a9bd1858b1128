// A fresh folder under the system's temporary folder, removed with everything in it.
#pragma once

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace OmbrelRenderTest {

class TempFolder {
public:
    TempFolder() {
        static std::atomic<int> counter{0};
        std::random_device device;
        path_ =
            std::filesystem::temp_directory_path() /
            ("ombrel-render-test-" + std::to_string(device()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    // Names of the entries, sorted.
    std::vector<std::string> entries() const { return entriesOf(path_); }
    static std::vector<std::string> entriesOf(const std::filesystem::path& folder) {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path path_;
};

// Whether this system lets the tests make symbolic links (Windows gives them only to
// privileged users, and wine makes none).
inline bool symbolicLinksWork(const TempFolder& folder) {
    std::error_code ec;
    std::filesystem::create_symlink("target", folder / ".link-probe", ec);
    if (ec)
        return false;
    std::filesystem::remove(folder / ".link-probe", ec);
    return true;
}

inline void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace OmbrelRenderTest
