#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/section_lock.h"
#include "core/thread_start.h"
#include "web/recordings_answers.h"
#include "web/recordings_index.h"
#include "web/web_auth.h"
#include "web/web_status.h"

class PictureBoard;
class Registry;

// The HTTP snapshot server: answers every connection on one TCP port with
// either a fixed page showing the picture or the latest published JPEG, then
// closes it; besides, "live.htm", "stream.mjpg" (MjpegStream) and
// "status.json" (WebStatusBoard) and the recordings (RecordingsAnswers, over
// the RecordingsIndex it registers), all behind WebAuth when a password is set.
// Registered as "_CL_WWWServer"; serves the picture board registered as
// "_MYPICTUREBOARD" (one of its own when none is). Start, Stop and the
// options calls belong to the UI thread; connections run on their own threads.
class WebServer {
public:
    static constexpr int kSlotCount = 100;
    // Connections one address may hold at once, streams included.
    static constexpr int kSlotsPerAddress = 16;
    static constexpr int32_t kDefaultPort = 8080;
    static constexpr int32_t kMinPort = 80;
    static constexpr int32_t kMaxPort = 65000;
    static constexpr int kDefaultReceiveTimeoutMs = 10000;
    // Longest wait of a picture request for the next picture when the
    // published one is older than the camera's frame interval.
    static constexpr int kFreshPictureWaitMs = 250;

    explicit WebServer(Registry& registry);
    // Stops, then waits until every connection thread has let go of the object.
    ~WebServer();
    WebServer(const WebServer&) = delete;
    WebServer& operator=(const WebServer&) = delete;

    // Listens on Port(); true when running afterwards. A port that cannot be
    // opened leaves the server stopped and prints one "web: ..." line on stderr.
    bool Start();
    // A Start refused because the stored password hash is empty or unusable.
    static constexpr int kUnusablePassword = -1;
    // errno of the last Start that failed (EADDRINUSE, EACCES, ...) or
    // kUnusablePassword, 0 after one that succeeded.
    int StartError() const { return startError_; }
    // Ends listening and shuts every open connection down.
    void Stop();
    // Start when "WWWStartAfterLaunch" is 1; the window calls it on its first tick.
    void StartIfConfigured();
    // shown is the caller's last displayed state (0 or 1): returns 1 and flips
    // it when the running state differs from it, 0 otherwise.
    int PollStateChange(int& shown) const;
    bool Running() const;

    // The published picture this server serves.
    PictureBoard& Board() { return *board_; }
    // Counts Stop calls, so a stream sees the server stop while it waits.
    uint32_t StopCount() const;

    // What "status.json" reports; the window fills it on its timer tick.
    WebStatusBoard& Status() { return status_; }
    WebAuth& Auth() { return auth_; }
    RecordingsIndex& Recordings() { return recordings_; }

    // Serves one connected socket on the calling thread: takes a slot (or
    // closes at once when all are in use), answers one request, closes fd.
    void HandleConnection(int fd);

    int32_t Port() const { return port_; }
    int32_t StartAfterLaunch() const { return startAfterLaunch_; }
    // Longest wait for a connection's next bytes, either way (default 10 s);
    // applies to connections accepted afterwards; 0 or less means none. The
    // whole request head must arrive within it from the connection, and a
    // response other than a stream be sent within three times it.
    void SetReceiveTimeoutMs(int timeoutMs);

    // Options dialog support (no UI here). The values the dialog opens with.
    struct Options {
        int32_t port;
        int32_t startAfterLaunch;
    };
    Options CurrentOptions();
    // The dialog's port rule: the field read as an unsigned decimal number
    // (empty reads as 0), then held within 80..65000.
    static int32_t ValidatePort(const char* fieldText);
    // OK of the dialog: stores what changed, moves a running server to a new
    // port, and saves the settings file (when the registry is one) only when
    // something changed. Returns true when a setting changed.
    bool ApplyOptions(const char* portFieldText, int32_t startAfterLaunch);

    // Who may look and where the server listens.
    struct Access {
        std::string user;
        bool hasPassword;
        std::string bindAddress;
        // False when a user is set whose stored hash no password can match.
        bool passwordUsable;
    };
    Access CurrentAccess();
    const std::string& BindAddress() const { return bindAddress_; }
    // OK of the dialog, after ApplyOptions: an empty user switches the
    // password off; an empty password keeps the stored hash, another is
    // hashed and only its hash stored. A changed bind address moves a running
    // server to it. Saves the settings file only when something changed.
    // False when a password could not be hashed, or a user would be left
    // without a usable password (nothing is stored then).
    bool ApplyAccess(const char* user, const char* password, const char* bindAddress,
                     bool* changed = nullptr);
    // The address of the server's first page (ending with "/"), and of
    // "live.htm", for a browser on this machine.
    static std::string PageAddress(const std::string& bindAddress, int32_t port);
    static std::string LivePageAddress(const std::string& bindAddress, int32_t port);

private:
    // The registry names of the settings.
    static constexpr const char* kPortKey = "WWWPortListener";
    static constexpr const char* kStartKey = "WWWStartAfterLaunch";
    static constexpr const char* kUserKey = "WWWUser";
    static constexpr const char* kHashKey = "WWWPasswordHash";
    static constexpr const char* kBindKey = "WWWBindAddress";
    struct Slot {
        bool inUse = false;
        int socket = -1;
        // The peer's address (keyed) for the per-address limit.
        bool keyed = false;
        uint8_t key[16] = {};
        // Steady ms by which the request must be read or answered; 0: none.
        int64_t deadlineMs = 0;
    };

    static void AcceptEntry(ThreadStart* start);
    static void ConnectionEntry(ThreadStart* start);
    void AcceptLoop(int listener);
    // Gives an accepted slot to an idle connection thread, or to a new one.
    void HandOver(int slot);
    // A connection thread: serves its first slot, then the slots handed to it
    // while it waits idle, and ends after a quiet spell.
    void ConnectionLoop(int slot);
    // Under the slot lock: the lowest free slot now holds fd; -1 when all
    // are in use or peer's address holds kSlotsPerAddress already.
    int TakeSlot(int fd, const sockaddr_storage& peer);
    // Sets when fd's request must be done (0: never, for a stream).
    void SetDeadline(int fd, int64_t deadlineMs);
    // Shuts the connections past their deadline down; their threads then end them.
    void EndLateConnections();
    // Closes the slot's socket and frees the slot, under the slot lock.
    void ReleaseSlot(int slot);
    // Answers the request on the slot's socket, then closes and frees it.
    void ServeSlot(int slot, uint8_t* picture);
    void PrepareConnection(int fd) const;
    // True when a whole response was sent; picture holds the board's capacity.
    bool HandleRequest(int fd, uint8_t* picture);
    bool SendPicture(int fd, uint8_t* picture);
    bool SendStatus(int fd);
    // Serves one request that passed the address check.
    bool Answer(int fd, const sockaddr_storage& peer, uint8_t* picture);
    // Whether the request is answered, refused or left without an answer;
    // counts wrong credentials.
    enum class Admission { kAnswer, kRefuse, kSilence };
    Admission Admit(const sockaddr_storage& peer, const char* authorization);
    void LoadAccess();

    Registry& registry_;
    PictureBoard* board_ = nullptr;
    // Holds the published picture when no board was registered.
    std::unique_ptr<PictureBoard> ownBoard_;
    // Guards the slots and the listener.
    SectionLock slotLock_{true};
    std::condition_variable_any slotFreed_;
    ThreadHandle acceptThread_;
    std::atomic<int> listenSocket_{-1};
    Slot slots_[kSlotCount];
    int slotsInUse_ = 0;
    // Connection threads, and the slots waiting for an idle one of them.
    std::mutex workersMutex_;
    std::condition_variable workHandedOver_;
    std::condition_variable workerEnded_;
    int waiting_[kSlotCount] = {};
    int waitingCount_ = 0;
    int idleWorkers_ = 0;
    int liveWorkers_ = 0;
    bool closing_ = false;
    int32_t port_ = kDefaultPort;
    int startError_ = 0;
    int32_t startAfterLaunch_ = 0;
    std::atomic<int> receiveTimeoutMs_{kDefaultReceiveTimeoutMs};
    std::string bindAddress_;
    WebAuth auth_;
    WebStatusBoard status_;
    RecordingsIndex recordings_;
    RecordingsAnswers recordingAnswers_{registry_, recordings_};
};
