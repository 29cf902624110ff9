// Controls gallery: the styled button and label in their looks and states, glyphs, kinds and
// image-list images included, built from the stored layout GALLERY. Hot, pressed and focused looks
// are set up when the window is first shown, so that a screenshot shows them without a mouse.
#include "controls/RzButton.h"
#include "controls/RzLabel.h"
#include "controls/RzLayoutClasses.h"
#include "framework/Application.h"
#include "framework/Form.h"
#include "framework/LayoutProperties.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

class TGalleryForm : public TForm {
public:
    TGalleryForm() : TForm(nullptr) {}

    TLayoutHandlers Handlers() {
        return {{"FormShow", [this](TObject*) { FormShow(); }},
                {"ActFetchExecute", [this](TObject*) { ActFetchExecute(); }}};
    }

private:
    template <class T> T* Find(const char* name) { return dynamic_cast<T*>(FindComponent(name)); }

    void FormShow() {
        if (auto* hot = Find<TRzBitBtn>("BtnHot")) hot->Perform(CM_MOUSEENTER);
        if (auto* pressed = Find<TRzBitBtn>("BtnPressed")) pressed->Perform(WM_KEYDOWN, VK_SPACE);
        if (auto* focused = Find<TRzBitBtn>("BtnFocused")) SetActiveControl(focused);
        if (auto* glyph = Find<TRzBitBtn>("GlyphPressed")) glyph->Perform(WM_KEYDOWN, VK_SPACE);
    }

    // The action's click: the button that carries it counts.
    void ActFetchExecute() {
        if (auto* button = Find<TRzBitBtn>("ImgAction"))
            button->SetCaption("Action x" + std::to_string(++FActionRuns));
    }

    int FActionRuns = 0;
};

} // namespace

// With "--check" the gallery only reads its layout and says in its exit code (and on the
// standard error) whether that worked: a test for the layout without a window on screen.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    const bool check = std::strstr(commandLine, "--check") != nullptr;
    try {
        RegisterStyledControlsLayoutClasses();
        RegisterLayoutClass("TGalleryForm", "TForm", nullptr, {});
        Application().SetTitle("Controls gallery");
        TGalleryForm form;
        LoadLayout(&form, LayoutResourceText("GALLERY"), form.Handlers());
        if (check) return 0;
        Application().SetMainForm(&form);
        form.Show();
        Application().Run();
    } catch (const std::exception& e) {
        if (check) {
            std::fprintf(stderr, "%s\n", e.what());
            return 1;
        }
        Application().ShowException(e);
        return 1;
    }
    return 0;
}
