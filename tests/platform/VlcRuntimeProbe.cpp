// Loads libvlc as the Windows window does and, when it loaded, plays a
// camera's preview into a made-up window handle. Prints what it found, one
// "key: value" a line, for vlc_runtime_wine.py.

#include <chrono>
#include <cstdio>

#include "platform/VlcRuntime.h"
#include "preview/VlcRuntimePreview.h"

int main() {
    const qdipc::VlcRuntime runtime = qdipc::LoadVlcRuntime();
    const char* states[] = {"loaded",        "linked",        "missing",
                            "wrong-version", "wrong-bitness", "unloadable"};
    std::printf("state: %s\n", states[static_cast<int>(runtime.state)]);
    std::printf("version: %s\n", runtime.version.c_str());
    std::printf("folder: %s\n", runtime.folder.string().c_str());
    std::printf("reason: %s\n", qdipc::VlcRuntimeReason(runtime).c_str());
    if (runtime.state == qdipc::VlcRuntime::State::Loaded) {
        qdipc::VlcRuntimePreview preview(runtime.functions);
        const std::string reason = preview.Play("10.77.0.21", reinterpret_cast<void*>(0x1234));
        std::printf("play: %s\n", reason.empty() ? "started" : reason.c_str());
        std::printf("closed: %s\n", preview.Close(std::chrono::seconds(10)) ? "yes" : "no");
    }
    return 0;
}
