#pragma once

#include "audio/TagAccess.h"

#include <QWidget>

#include <array>
#include <string>
#include <vector>

class QComboBox;

namespace tonemirror::app {

struct AppContext;

// The tag editor under the Folders page's file list: seven fields (Title, Artist, Album, Comment,
// Year, Track, Genre) showing the tags of the selected files. A field shows a value only when every
// loaded file carries that value; otherwise it selects "<unchanged>". Edited fields are written to
// every loaded file when the selection changes (commit). The last item of each drop list is
// "<unchanged>"; above it stand the field's recent values (15, newest first) or, for Genre, the
// genre list.
class CTagEditWnd : public QWidget {
    Q_OBJECT
public:
    static constexpr int kFields = 7;

    CTagEditWnd(AppContext& context, QWidget* parent = nullptr);
    // Commits, then stores the recent-value lists.
    ~CTagEditWnd() override;

    // Commits and clears, then loads each file a tagger accepts; returns how many were loaded.
    int loadSelection(const std::vector<std::u16string>& files);
    void commitAndClear();

    const std::vector<std::u16string>& loadedFiles() const { return loaded_; }
    // Shared with the name/tag conversions.
    audio::TagAccess& tagAccess() { return tags_; }

    // The field's drop-down box, in display order (0 Title ... 6 Genre).
    QComboBox* box(int field) const { return fields_[static_cast<std::size_t>(field)].box; }
    // The item that leaves a field untouched.
    QString unchangedText() const;
    void retranslate();

    Q_SIGNAL void loaded(int count);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    struct Field {
        QComboBox* box = nullptr;
        std::u16string remembered;
        // The box's text as loaded: the field counts as changed only when the user made it differ.
        QString shown;
    };

    void createBoxes();
    void fillBox(int field);
    void layoutBoxes();
    void loadFile(const std::u16string& path);
    std::vector<int> changedFields();
    void pushRecent(int field, const std::u16string& value);
    void writeFields(const std::vector<int>& changed);
    void clear();
    bool unchangedSelected(int field) const;
    void storeRecentLists();
    QString fieldLabel(int field) const;
    QString countText() const;

    AppContext& context_;
    audio::TagAccess tags_;
    std::array<Field, kFields> fields_;
    std::vector<std::u16string> loaded_;
    bool destroying_ = false;
};

} // namespace tonemirror::app
