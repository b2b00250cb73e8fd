#include "app/PlatformEdges.h"

#include <filesystem>

#include "platform/DynamicLibrary.h"
#include "platform/FileSystemDirectories.h"
#include "platform/Paths.h"
#include "platform/PosixFileAppender.h"
#include "platform/PosixSerialDevice.h"
#include "platform/PosixServerSocket.h"

namespace vantor {

void UseThePlatform(GatewayEnvironment& env, EventLoop& loop) {
    env.serialDeviceFactory = OpenPosixSerialDevice;
    env.serialDevices = [] { return ListSerialDevices(); };
    env.serverSocketFactory = [&loop](TComponent* owner) { return MakeServerSocket(owner, loop); };
    env.libraryOpener =
        SystemLibraryOpener(std::filesystem::path(env.programPath).parent_path().string());
    env.fileAppenderFactory = [] { return MakeFileAppender(); };
    env.tempFolder = TempPath();
    env.directories = std::make_shared<FileSystemDirectories>();
}

} // namespace vantor
