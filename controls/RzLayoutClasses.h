// The styled controls as a stored layout sees them: TRzButton, TRzBitBtn (with its
// glyph, kind and images), TRzLabel and TRzFrameController with their published properties.
#pragma once

// Registers the framework's classes too. Idempotent.
void RegisterStyledControlsLayoutClasses();
