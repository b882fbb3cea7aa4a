// The audio component chain: components linked Input to Output, the buffer header the
// driver passes along them, the driver base with its notification walks, the chain's worker
// threads and the delivery of open/close events to the main thread.
//
// Links are non-owning and always two-way: setting one side fixes the other and makes the
// old neighbours forget. Linking never forms a cycle (such a request is silently refused).
#pragma once

#include "audio/MMUtils.h"
#include "common/MMErrors.h"
#include "common/MMObj.h"
#include "platform/MMSystem.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

// ---------------------------------------------------------------------------------------
// Exceptions: the chain's own class; every family derives from EMMError (common/MMErrors.h).

class EMMDSPError : public EMMError {
public:
    using EMMError::EMMError;
};

// ---------------------------------------------------------------------------------------
// Buffer header: the platform's WAVEHDR followed by the chain's own fields. A driver
// allocates each header with its data as one block (NewWaveHdr), the data right behind it.

struct TMMWaveHdr {
    WAVEHDR wh;
    uint32_t dwReserved;            // unused
    uint32_t dwSavedBytesRecorded;  // byte count kept by a driver across a device round trip
    TMMWaveHdr* lpNextHdr;          // next header of the driver's ring
    int32_t dwLooping;              // looping requested: -1 or 0
    int32_t dwLoopCount;            // loops asked for (0: for ever)
    int32_t dwLoopTmpCnt;           // loops remaining
    int32_t dwLooped;               // set to -1 by a source that wrapped around
};
using PMMWaveHdr = TMMWaveHdr*;

struct TMMWaveHdrDeleter {
    void operator()(TMMWaveHdr* p) const noexcept;
};
using TMMWaveHdrPtr = std::unique_ptr<TMMWaveHdr, TMMWaveHdrDeleter>;

// A zero-filled header with dataSize bytes of data behind it: lpData points just behind the
// header, dwBufferLength is dataSize. Out of memory throws std::bad_alloc.
TMMWaveHdrPtr NewWaveHdr(uint32_t dataSize);

// ---------------------------------------------------------------------------------------
// Events

using TMMNotifyEvent = std::function<void(TMMComponent* Sender)>;
using TMMBufferEvent = std::function<void(TMMComponent* Sender, PMMWaveHdr header)>;
using TMMBufferLoadEvent = std::function<void(TMMComponent* Sender, PMMWaveHdr header, bool& more)>;

// ---------------------------------------------------------------------------------------
// Chain components

class TMMCustomDSPComponent : public TMMNonVisualComponent {
public:
    using TMMNonVisualComponent::TMMNonVisualComponent;
};

class TMMDSPComponent : public TMMCustomDSPComponent {
public:
    enum TMMLinkSide { lsInput, lsOutput };
    static constexpr size_t MaxLinkNameLength = 20;

    explicit TMMDSPComponent(TMMComponent* owner = nullptr);
    // Clears every link that points to this component (its neighbours forget it), drops the
    // format and leaves the process-wide list. Subclasses that must act while still linked
    // (a sink finishing its file) do so in their own destructor.
    ~TMMDSPComponent() override;

    // --- Links ---------------------------------------------------------------------------
    TMMDSPComponent* Input() const { return input_; }
    TMMDSPComponent* Output() const { return output_; }
    // Link this component's upstream/downstream side to value (null unlinks). A started
    // component is stopped first; refused silently when value is already linked there or
    // the link would make a cycle or value cannot take that role.
    virtual void SetInput(TMMDSPComponent* value);
    virtual void SetOutput(TMMDSPComponent* value);

    // Whether the class publishes its Input/Output property. Only such a component can take
    // the matching role of a link (unless allowed below), and only its old neighbours are
    // told to forget it on relinking. The base publishes neither.
    virtual bool HasInputProperty() const { return false; }
    virtual bool HasOutputProperty() const { return false; }
    // Let a component without an Input property become someone's Output, and one without an
    // Output property become someone's Input.
    bool AllowAsOutput() const { return allowAsOutput_; }
    void SetAllowAsOutput(bool value) { allowAsOutput_ = value; }
    bool AllowAsInput() const { return allowAsInput_; }
    void SetAllowAsInput(bool value) { allowAsInput_ = value; }

    const std::string& InputLinkName() const { return inputLinkName_; }
    const std::string& OutputLinkName() const { return outputLinkName_; }

    // Marks a component at which the drivers' searches for the head of the chain stop.
    bool IsSourceComponent() const { return source_; }
    void SetSourceComponent(bool value) { source_ = value; }

    // A neighbour of component changed; side says which of this component's links is meant
    // and name is the property on component that pointed back. Forgets that link when it
    // still points at component and component's property no longer points here.
    virtual void LinkChanged(TMMDSPComponent* component, TMMLinkSide side, const std::string& name);
    // True when component may become this component's Input (it is neither this component
    // nor downstream of it, and can act as an Input).
    virtual bool CanConnectInput(TMMDSPComponent* component);
    virtual bool CanConnectOutput(TMMDSPComponent* component);

    // --- Format --------------------------------------------------------------------------
    // The format of the stream leaving this component, or null.
    virtual WAVEFORMATEX* PWaveFormat() const { return format_.get(); }
    // Stores a copy of format (null clears) and hands it to the Output. A started component
    // is stopped before a different format is stored.
    virtual void SetPWaveFormat(const WAVEFORMATEX* format);
    // Called by the Input with its format; stores it by default.
    virtual void InputFormatChanged(const WAVEFORMATEX* format);
    // Sends the format from the Input into this component, or from this one to its Output.
    virtual void PropagateFormat();

    // --- Buffer size ---------------------------------------------------------------------
    // The requested size, or while opened the size in use.
    virtual int32_t BufferSize() const;
    // Stops a started component first; drivers clamp the value.
    virtual void SetBufferSize(int32_t value);
    int32_t RealBufferSize() const { return realBufferSize_; }

    // --- State notifications -------------------------------------------------------------
    virtual void Opened();
    virtual void Closed();
    virtual void Started();
    virtual void Paused();
    virtual void Restarted();
    virtual void Stopped();
    virtual void StreamReset() {}
    virtual void Looped() {}

    bool IsOpen() const { return opened_; }
    bool IsStarted() const { return started_; }
    bool IsPaused() const { return paused_; }

    // --- Buffers (run in the driver's thread) --------------------------------------------
    // Pull: raises OnBufferLoad, lets the Input fill header and set more, then calls the
    // after-load slot when bytes arrived. Sources override it to fill the buffer themselves.
    virtual void BufferLoad(PMMWaveHdr header, bool& more);
    // Push: raises OnBufferReady, then hands header to the Output.
    virtual void BufferReady(PMMWaveHdr header);

    TMMBufferEvent OnBufferReady;
    TMMBufferLoadEvent OnBufferLoad;
    // Called after a load that produced bytes (with its data and this component).
    std::function<void(void* data, TMMDSPComponent* sender, PMMWaveHdr header)> AfterLoadProc;
    void* AfterLoadData = nullptr;

    // --- Construction in a form ----------------------------------------------------------
    // Between BeginLoading and Loaded, links and formats are stored without propagating;
    // Loaded sends the format on to the Output once every link exists.
    void BeginLoading() { loading_ = true; }
    virtual void Loaded();
    bool Loading() const { return loading_; }

protected:
    virtual void SetInputLink(TMMDSPComponent* component, const std::string& name);
    virtual void SetOutputLink(TMMDSPComponent* component, const std::string& name);

    // True while loading or being destroyed: formats are not propagated then.
    bool Quiet() const { return loading_ || Destroying(); }

    // Sends LinkChanged to every chain component of the process.
    static void BroadcastLinkChanged(TMMDSPComponent* component, TMMLinkSide side,
                                     const std::string& name);

    bool opened_ = false;
    bool started_ = false;
    bool paused_ = false;

private:
    TMMDSPComponent* LinkByName(const std::string& name) const;
    bool HasLinkProperty(const std::string& name) const;

    TMMDSPComponent* input_ = nullptr;
    TMMDSPComponent* output_ = nullptr;
    TMMWaveFormatPtr format_;
    int32_t bufferSize_ = 2048;
    int32_t realBufferSize_ = 2048;
    bool allowAsOutput_ = false;
    bool allowAsInput_ = false;
    std::string inputLinkName_;
    std::string outputLinkName_;
    bool source_ = false;
    bool loading_ = false;
};

// The chain components that exist in the process (creation order).
size_t DSPComponentCount();
TMMDSPComponent* DSPComponent(size_t index);

// ---------------------------------------------------------------------------------------
// Drivers

// A chain's driver: the component that owns the timing (a device or a worker thread). Its
// state notifications are announced to the components it drives: the walk goes from the
// head of the chain (or from the driver itself when another driver lies upstream) down the
// Outputs, notifying every plain component and the first other driver met, which ends the
// walk. For Opened each notified component first gets the driver's buffer size.
//
// A subclass announces a state by calling the notification of this class (for example
// TMMCustomSoundComponent::Opened() from its Open); another driver's walk reaches it through
// the virtual notification, which a subclass maps onto its own operation.
class TMMCustomSoundComponent : public TMMDSPComponent {
public:
    using TMMDSPComponent::TMMDSPComponent;

    void Opened() override;
    void Closed() override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;
    void StreamReset() override;
    void Looped() override;

    // Set by Opened when another driver lies upstream in the same chain.
    bool DrivenFromUpstream() const { return drivenFromUpstream_; }

    virtual void Open() = 0;
    virtual void Close() = 0;
    virtual void Start() = 0;
    virtual void Pause() = 0;
    virtual void Restart() = 0;
    virtual void Stop() = 0;

private:
    enum TMMNotification { nOpened, nClosed, nStarted, nPaused, nRestarted, nStopped, nReset, nLooped };
    // The component at which the downstream walk starts.
    TMMDSPComponent* FindHead(bool sourceFlagEnds, bool* upstreamDriver);
    void Notify(TMMDSPComponent* component, TMMNotification what);
    void WalkForward(TMMNotification what);
    void WalkBackward(TMMNotification what);

    bool drivenFromUpstream_ = false;
};

using TMMDeviceId = int32_t;
constexpr TMMDeviceId MapperId = -1;
constexpr TMMDeviceId InvalidId = -2;

// How a wave output processes buffer completions.
enum TMMCBMode : int32_t { cmWindow, cmCallback, cmThread };

// Base of the wave output drivers: the device properties the output adds.
class TMMCustomWaveOutComponent : public TMMCustomSoundComponent {
public:
    using TMMCustomSoundComponent::TMMCustomSoundComponent;

    virtual int32_t NumBuffers() const = 0;
    virtual void SetNumBuffers(int32_t value) = 0;
    virtual TMMDeviceId DeviceID() const = 0;
    virtual void SetDeviceID(TMMDeviceId value) = 0;
    virtual std::string ProductName() const = 0;
    virtual void SetProductName(const std::string& value) = 0;
    virtual TMMCBMode CallBackMode() const = 0;
    virtual void SetCallBackMode(TMMCBMode value) = 0;
};

// ---------------------------------------------------------------------------------------
// Threads

// A std::thread created suspended, with cooperative suspension and termination. Execute runs
// in the thread once Resume is first called; it polls Terminated and calls WaitIfSuspended at
// the points where it may be held.
//
// A subclass whose Execute uses its own members must call Terminate and WaitFor in its own
// destructor; the base destructor does the same as a last resort.
class TMMThreadEx {
public:
    TMMThreadEx();
    virtual ~TMMThreadEx();
    TMMThreadEx(const TMMThreadEx&) = delete;
    TMMThreadEx& operator=(const TMMThreadEx&) = delete;

    // Starts the thread on the first call; later calls end a suspension.
    void Resume();
    // Holds the thread at its next WaitIfSuspended.
    void Suspend();
    bool Suspended() const;
    // Whether the thread is held in WaitIfSuspended now.
    bool Held() const;
    // Asks Execute to end (and ends a suspension so that it can).
    void Terminate();
    bool Terminated() const { return terminated_.load(); }
    // Waits until the thread has ended and joins it. In the main thread, calls queued by
    // the worker with Synchronize keep running meanwhile. Nothing when never started.
    void WaitFor();
    // Like WaitFor with a limit; false when the thread still runs after timeoutMs.
    bool WaitFor(int32_t timeoutMs);
    bool Finished() const { return finished_.load(); }
    bool Started() const { return thread_.joinable() || finished_.load(); }

    std::thread::id ThreadID() const { return threadId_.load(); }
    TThreadPriority Priority() const { return priority_; }
    // Applied when the thread starts, and at once when it runs.
    void SetPriority(TThreadPriority value);
    // The exception that ended Execute, if any.
    std::exception_ptr FatalException() const { return fatal_; }

    // Runs fn in the main thread while this thread waits.
    static void Synchronize(const std::function<void()>& fn);

protected:
    virtual void Execute() = 0;
    // Blocks while suspended; returns !Terminated().
    bool WaitIfSuspended();

private:
    void Run();

    std::thread thread_;
    std::atomic<std::thread::id> threadId_{};
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool suspended_ = false;
    bool held_ = false;
    TThreadPriority priority_ = tpNormal;
    std::exception_ptr fatal_;
};

// A chain worker thread serving one driver. Registered in the process-wide list of chain
// worker threads while it exists; CallInMainThread recognises these threads.
class TMMDSPThread : public TMMThreadEx {
public:
    explicit TMMDSPThread(TMMCustomSoundComponent* owner);
    ~TMMDSPThread() override;
    TMMCustomSoundComponent* Owner() const { return owner_; }

private:
    TMMCustomSoundComponent* owner_;
};

// Number of chain worker threads that exist.
size_t DSPThreadCount();

// Runs proc in the main thread when called from a chain worker thread (which waits until it
// has run; an exception is rethrown there); in every other case calls it directly.
void CallInMainThread(const std::function<void()>& proc);
