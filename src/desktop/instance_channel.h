#pragma once

#include <QObject>

#include <functional>
#include <string>

class QSocketNotifier;

// The line between copies of the program: the running copy listens on a
// local socket beside its lock file (mode 0600, same user only) and answers
// one-word requests; a later start sends a word and ends.
class InstanceChannel final : public QObject {
public:
    // Words the running copy acts on; anything else is ignored.
    static constexpr const char* kShow = "show";
    static constexpr const char* kToggle = "toggle";

    // The socket beside "NAME.lock": the lock's path with ".sock" for ".lock".
    static std::string SocketPathFor(const std::string& lockPath);
    // Sends one word to the running copy; true once it answered that it acted.
    static bool Send(const std::string& socketPath, const char* word, int timeoutMs = 3000);

    // Listens at socketPath (left by a crashed copy or not: the caller holds the lock).
    InstanceChannel(const std::string& socketPath, std::function<void(const std::string&)> onWord,
                    QObject* parent = nullptr);
    ~InstanceChannel() override;

    bool Listening() const { return fd_ >= 0; }
    const std::string& Error() const { return error_; }

private:
    void Accept();

    std::string path_;
    std::string error_;
    std::function<void(const std::string&)> onWord_;
    int fd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
};
