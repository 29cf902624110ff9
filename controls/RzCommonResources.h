// Resources that every program using the styled controls carries (controls/RzCommon.rc):
// the standard captions of the button kinds in the string table, one per kind after the
// custom one, and the kinds' glyph bitmaps RZCOMMON_OK ... RZCOMMON_ALL.
// Read by the resource compiler too: preprocessor lines only.
#pragma once

#define RZCOMMON_KIND_CAPTION_BASE 0xFF00 /* + TBitBtnKind, bkOK (1) .. bkAll (10) */
