// ArtistChooser: the library's artists; a tap makes the main list show that artist.
#pragma once

#include "ui/tag_chooser.h"

class ArtistChooser : public TagChooser {
    Q_OBJECT

public:
    explicit ArtistChooser(UiContext *context, QObject *parent = nullptr);
};
