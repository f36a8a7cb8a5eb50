#pragma once
// The settings files this process has open, by handle. Every call first brings its file up to
// date with the disk; a change is applied to a copy that replaces the file on disk, and only
// then the copy becomes the file's content, so a failed write changes nothing.

#include <functional>
#include <map>
#include <mutex>
#include <string>

#include "FileAccess.h"
#include "IniDocument.h"

namespace Praxen {

class OpenFiles
{
public:
    static OpenFiles& Instance();

    int Open(const char* path, const char* version, const char* product, int* handle);
    int Close(int handle, bool writeFirst);
    int Write(int handle);

    // Runs reader on the file's current content; its result is the call's result.
    int Read(int handle, const std::function<int(const IniDocument&)>& reader);
    // Runs changer on a copy of the content; a non-negative result is written through.
    int Change(int handle, const std::function<int(IniDocument&)>& changer);

private:
    struct File
    {
        std::string path;
        std::string version;
        std::string product;
        IniDocument document;
        FileStamp stamp;
    };

    File* Find(int handle);
    static int Load(File& file);
    static int Refresh(File& file);
    static int Store(File& file, const IniDocument& document);

    std::mutex lock;  // the library may be called from any thread
    std::map<int, File> files;
    int lastHandle = 0;
};

}  // namespace Praxen
