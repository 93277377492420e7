// TagChooser: the albums or the artists of the library, each with its number of tracks;
// a tap makes the main list show that album or artist. AlbumChooser and ArtistChooser are
// this screen over one tag field each.
#pragma once

#include <functional>

#include <QMap>
#include <QStringList>

#include "library/playable_item.h"
#include "ui/screen_controller.h"

class TagChooser : public ScreenController {
    Q_OBJECT

public:
    static constexpr int kPhoneRowHeight = 52;
    static constexpr int kTabletRowHeight = 60;

    struct Field {
        QString title;                                           // the screen's title
        int organize;                                            // the Organize value it sets
        QString key;                                             // the setting that holds the choice
        std::function<const QString &(const PlayableItem &)> value;  // the field grouped on
    };

    TagChooser(UiContext *context, Field field, QObject *parent = nullptr);

    // Names sorted case-insensitively (names differing only in case are separate rows).
    const QStringList &names() const { return names_; }
    // Tracks per name: an image counts its cue tracks, any other file 1.
    int trackCount(const QString &name) const { return counts_.value(name); }
    // Groups the library's whole-file items.
    void buildList(const PlayableItemList &library);

    int rowHeight() const override { return isTablet() ? kTabletRowHeight : kPhoneRowHeight; }
    void viewDidLoad() override;
    void viewDidAppear() override;
    void tapRow(int section, int row) override;

    void reloadRows();

private:
    // The name the main list shows in this mode; null when another mode is on.
    QString chosenName() const;

    Field field_;
    QStringList names_;
    QMap<QString, int> counts_;
};
