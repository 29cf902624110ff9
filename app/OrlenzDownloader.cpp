// The program: the application title, the window from its layout, the message loop. Exit
// code 0 whenever the window has been closed, and when the tool was already running in this
// session (its window is brought to the front instead). With arguments, the run is theirs
// (app/RunController) and so is its exit code.
#include "app/CommandLine.h"
#include "app/RunController.h"
#include "app/SingleInstance.h"
#include "app/UnitOfZQX.h"
#include "framework/Application.h"
#include "runtime/SystemLibrary.h"

#include <memory>

namespace {

// Before any library is loaded on the program's behalf, which the first call into the system's
// window library already does (Wine's user32 loads uxtheme by name on its first call, from the
// program's static objects): the program's own folder may hold files left there by others. So
// this is the first of the program's static objects.
struct TLibrariesFirst {
    TLibrariesFirst() { KeepLibrariesToTheSystemFolder(); }
};
__attribute__((init_priority(101))) const TLibrariesFirst LibrariesFirst;

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const TCommandLine command = ParseCommandLine(GetCommandLineW());
    if (command.Given) return RunWithSwitches(command);
    // Held until the program ends. Asked before anything of the window exists, so that a
    // second start touches neither the engine nor the screen.
    TInstanceLock instance(InstanceLockName);
    if (!instance.Owned() && DeferToRunningTool(instance, 15000)) return 0;
    std::unique_ptr<TFormOfZQX> form;
    try {
        Application().SetTitle(ApplicationTitle);
        form = std::make_unique<TFormOfZQX>();
        Application().SetMainForm(form.get());
        Application().Run();
        // Hidden, then FormDestroy, then the controls and the window go.
        form.reset();
    } catch (const std::exception& e) {
        // Only a program that cannot build its window ends here.
        Application().ShowException(e);
        return 1;
    }
    return 0;
}
