#pragma once

#include "engine/Container.h"

#include <QDialog>

#include <optional>

class AppStore;
class QLineEdit;
class QPlainTextEdit;

// The sheet that starts a container from one image: an optional name, published ports, environment
// lines and a command. Run hands the client's run command to the store and closes the sheet at once;
// how the run went shows as the store's error and in the listings, like every other action.
class RunImageView final : public QDialog {
    Q_OBJECT

public:
    static constexpr int width = 460;

    RunImageView(AppStore& store, DockerImage image, QWidget* parent = nullptr);

    const DockerImage& image() const { return m_image; }
    // The client's arguments for what the form holds now.
    QStringList arguments() const;
    static QString title(const DockerImage& image);

    // Starts the container on the image's own runtime (else the one shown) and closes the sheet.
    void run();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Whether `press` is a key held down rather than one pressed anew.
    bool heldDown(const QKeyEvent& press) const;

    struct Release {
        int key = 0;
        quint64 at = 0;
    };

    AppStore& m_store;
    DockerImage m_image;
    bool m_ran = false;
    // The last key let go in a line field, and when.
    std::optional<Release> m_released;

    QLineEdit* m_name;
    QLineEdit* m_ports;
    QPlainTextEdit* m_env;
    QLineEdit* m_command;
};
