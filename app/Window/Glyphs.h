// The button glyphs and the contact icon, drawn in code.
#pragma once

#include <QIcon>

enum class TGlyph { Play, Stop, GotoFirst, GotoEnd, TrimLeft, TrimRight, SelectAudio, DeleteAudio, Prelisten,
                    Contact };

// An icon of the glyph at `size` pixels (square glyphs use the smaller side); Qt derives the
// disabled look from it.
QIcon MakeGlyph(TGlyph glyph, QSize size);
