// The program: the application title, the window from its layout, the message loop. Exit
// code 0 whenever the window has been closed.
#include "app/UnitOfZQX.h"
#include "framework/Application.h"

#include <memory>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
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
