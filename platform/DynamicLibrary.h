// Loading shared libraries at run time, and the folder of the running executable that the
// program loads its own libraries from.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

class DynamicLibrary {
public:
    // Loads the library at path with every symbol resolved now. Returns null on failure and,
    // when error is given, the loader's reason. The library is unloaded with the object.
    static std::unique_ptr<DynamicLibrary> Open(const std::string& path, std::string* error = nullptr);
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;

    // The address of an exported symbol, or null when the library has none of that name.
    void* Symbol(const char* name) const;
    // Symbol cast to a function pointer type.
    template <class F>
    F Function(const char* name) const {
        return reinterpret_cast<F>(Symbol(name));
    }
    const std::string& Path() const { return path_; }

private:
    DynamicLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    void* handle_;
    std::string path_;
};

// The folder holding the running executable (from /proc/self/exe); the current folder when
// that cannot be read.
std::filesystem::path ExecutableFolder();
