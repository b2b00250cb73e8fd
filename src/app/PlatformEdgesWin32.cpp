// The gateway's outer edges on Windows: COM ports, Winsock, the locked
// accounting append, LoadLibrary, the temporary folder and the drives the
// directory chooser browses.  The program path is the gateway's
// Windows-1250 text, so its folder is taken through FilePath.
#include "app/PlatformEdges.h"

#include "platform/DynamicLibrary.h"
#include "platform/FileSystemDirectories.h"
#include "platform/Paths.h"
#include "platform/win32/Win32FileAppender.h"
#include "platform/win32/Win32SerialDevice.h"
#include "platform/win32/Win32ServerSocket.h"
#include "toolkit/FilePath.h"

namespace vantor {

void UseThePlatform(GatewayEnvironment& env, EventLoop& loop) {
    env.serialDeviceFactory = OpenWin32SerialDevice;
    env.serialDevices = [] { return ListWin32SerialDevices(); };
    env.serverSocketFactory = [&loop](TComponent* owner) { return MakeServerSocket(owner, loop); };
    env.libraryOpener = SystemLibraryOpener(FilePathText(FilePath(env.programPath).parent_path()));
    env.fileAppenderFactory = [] { return MakeFileAppender(); };
    env.tempFolder = TempPath();
    env.directories = std::make_shared<FileSystemDirectories>();
}

} // namespace vantor
