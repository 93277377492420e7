// Alerts: the only dialogs of the application. AlertMessage shows a title, a message and
// "OK"; AlertConfirm asks "Cancel" (button 0) or "OK" (button 1); AlertPrompt adds a text
// field. None of them blocks: the answer arrives later through the callback, so playback
// and the FTP server keep running on the event loop while a dialog is up.
//
// The AlertCenter queues them; the view shows the front one and reports the button with
// Alert::answer(). One center is current per application (the UI context's).
#pragma once

#include <functional>

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class Alert : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString title READ title CONSTANT)
    Q_PROPERTY(QString message READ message CONSTANT)
    Q_PROPERTY(QStringList buttons READ buttons CONSTANT)
    Q_PROPERTY(bool hasTextField READ hasTextField CONSTANT)
    Q_PROPERTY(QString enteredText READ enteredText WRITE setEnteredText NOTIFY enteredTextChanged)
    Q_PROPERTY(int tag READ tag CONSTANT)

public:
    using Callback = std::function<void(int button, const QString &text)>;

    Alert(const QString &title, const QString &message, const QStringList &buttons, bool textField, int tag,
          Callback callback, QObject *parent = nullptr);

    const QString &title() const { return title_; }
    const QString &message() const { return message_; }
    const QStringList &buttons() const { return buttons_; }
    bool hasTextField() const { return textField_; }
    const QString &enteredText() const { return text_; }
    void setEnteredText(const QString &text);
    int tag() const { return tag_; }

    // The user pressed button `index`: the callback runs once and the alert leaves.
    Q_INVOKABLE void answer(int index);

signals:
    void enteredTextChanged();
    void answered(int index);

private:
    QString title_;
    QString message_;
    QStringList buttons_;
    bool textField_;
    QString text_;
    int tag_;
    Callback callback_;
    bool done_ = false;
};

class AlertCenter : public QObject {
    Q_OBJECT
    Q_PROPERTY(Alert *current READ current NOTIFY currentChanged)
    Q_PROPERTY(int count READ count NOTIFY currentChanged)

public:
    explicit AlertCenter(QObject *parent = nullptr);
    ~AlertCenter() override;
    // The application's center; null before one exists.
    static AlertCenter *shared();
    void makeShared();

    Alert *show(Alert *alert);
    Alert *current() const { return queue_.isEmpty() ? nullptr : queue_.first(); }
    int count() const { return int(queue_.size()); }
    QList<Alert *> queue() const { return queue_; }

signals:
    void currentChanged();

private:
    void remove(Alert *alert);
    QList<Alert *> queue_;
};

namespace AlertMessage {
// A title, an optional message and "OK". Without a center it goes to the log.
Alert *show(const QString &title, const QString &message = QString());
} // namespace AlertMessage

namespace AlertConfirm {
// "Cancel" is button 0, "OK" button 1.
Alert *show(const QString &title, const QString &message, std::function<void(int button)> done, int tag = 0);
} // namespace AlertConfirm

namespace AlertPrompt {
// A missing or empty message becomes "\n" (room above the field). `text` fills the field.
Alert *show(const QString &title, const QString &message, const QString &cancelTitle, const QString &okTitle,
            std::function<void(int button, const QString &text)> done, const QString &text = QString(),
            int tag = 0);
QString messageFor(const QString &message);
} // namespace AlertPrompt
