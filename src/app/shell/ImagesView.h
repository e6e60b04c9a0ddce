#pragma once

#include "app/design/KeyedRows.h"
#include "app/shell/ListScreen.h"
#include "engine/Container.h"

#include <memory>

class AppStore;
class ChangeBatch;
class ImageRow;
class QLineEdit;
class VoskButton;

// The Images section: a pull field with its button, registry login and reclaim across the top, then
// the images in scope that match the filter (or the empty state). Rows are kept by runtime, image id
// and name, so an open menu stays with its image when a pull inserts another above it.
class ImagesView : public ListScreen {
    Q_OBJECT

public:
    explicit ImagesView(AppStore& store, QWidget* parent = nullptr);
    ~ImagesView() override;

    // Pulls what the field holds, unless it is empty, and empties the field at once.
    void pull();

    ImageRow* row(const DockerImage& image) const;
    qsizetype rowCount() const;

private:
    void rebuild();
    void followChoice();

    AppStore& m_store;
    QLineEdit* m_pullField;
    VoskButton* m_pullButton;
    VoskButton* m_loginButton;
    std::unique_ptr<KeyedRows<DockerImage, ImageRow>> m_rows;
    ChangeBatch* m_changes;
};
