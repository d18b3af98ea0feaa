#pragma once
// The port's sub-objects: queue sizes and time-outs (TVaBuffers), the special characters of the
// line (TVaEventChars) and handshaking (TVaFlowControl), on one base that tells the owning port
// of each change (TVaPersistent).
#include "serial/comm_types.h"

#include <cstdint>
#include <tuple>

class TVaComm;

// Base of the port's sub-objects: a back-reference to the owning port (none for a free-standing
// copy) and a change notification. Assign copies every field with notification suspended and
// notifies once at the end. Copying makes a free-standing object; assigning to a port's own
// sub-object goes through Assign.
class TVaPersistent {
public:
    virtual ~TVaPersistent() = default;
    TVaComm* Owner() const { return mOwner; }

protected:
    TVaPersistent() = default;
    explicit TVaPersistent(TVaComm* owner) : mOwner(owner) {}
    TVaPersistent(const TVaPersistent&) {}
    TVaPersistent& operator=(const TVaPersistent&) { return *this; }
    void BeginUpdate() { ++mUpdateCount; }
    void EndUpdate(bool changed);
    // Tells the owner (when not inside Assign and there is one) that a field changed.
    void Changed();
    // Asks the owner whether the change is allowed now (raises when it is not).
    void CheckChange(bool closedOnly) const;
    // Sets one field; a change is told to the owner.
    template <typename T> void SetValue(T& field, T value) {
        if (field == value) return;
        field = value;
        Changed();
    }
    // Copies every field (`mine` and `theirs`: a std::tie of each object's fields, in the same
    // order) as Assign does.
    template <typename Mine, typename Theirs> void AssignFields(Mine mine, const Theirs& theirs) {
        BeginUpdate();
        const bool changed = mine != theirs;
        mine = theirs;
        EndUpdate(changed);
    }

private:
    TVaComm* mOwner = nullptr;
    int mUpdateCount = 0;
    bool mPendingChange = false;
};

// Queue sizes, time-outs and flow-control limits. ReadSize, WriteSize, XonLimit, XoffLimit (and
// Assign) raise "Can't perform this operation while port is open" while the owner is open;
// ReadTimeout and WriteTimeout may change at any time.
class TVaBuffers : public TVaPersistent {
public:
    TVaBuffers() = default;
    explicit TVaBuffers(TVaComm* owner) : TVaPersistent(owner) {}
    TVaBuffers(const TVaBuffers& other);
    TVaBuffers& operator=(const TVaBuffers& other) {
        Assign(other);
        return *this;
    }
    void Assign(const TVaBuffers& source);

    int ReadSize() const { return mReadSize; }
    int WriteSize() const { return mWriteSize; }
    int ReadTimeout() const { return mReadTimeout; }
    int WriteTimeout() const { return mWriteTimeout; }
    int XonLimit() const { return mXonLimit; }
    int XoffLimit() const { return mXoffLimit; }
    void SetReadSize(int value);
    void SetWriteSize(int value);
    void SetReadTimeout(int value);
    void SetWriteTimeout(int value);
    void SetXonLimit(int value);
    void SetXoffLimit(int value);

private:
    template <typename Self> static auto Fields(Self& s) {
        return std::tie(s.mReadSize, s.mWriteSize, s.mReadTimeout, s.mWriteTimeout, s.mXonLimit,
                        s.mXoffLimit);
    }
    void SetField(int& field, int value, bool closedOnly);
    int mReadSize = 4096;
    int mWriteSize = 2048;
    int mReadTimeout = 1000;
    int mWriteTimeout = 1000;
    int mXonLimit = 1024;
    int mXoffLimit = 1024;
};

// The special characters of the line.
class TVaEventChars : public TVaPersistent {
public:
    TVaEventChars() = default;
    explicit TVaEventChars(TVaComm* owner) : TVaPersistent(owner) {}
    TVaEventChars(const TVaEventChars& other);
    TVaEventChars& operator=(const TVaEventChars& other) {
        Assign(other);
        return *this;
    }
    void Assign(const TVaEventChars& source);

    uint8_t XonChar() const { return mXonChar; }
    uint8_t XoffChar() const { return mXoffChar; }
    uint8_t ErrorChar() const { return mErrorChar; }
    uint8_t EventChar() const { return mEventChar; }
    uint8_t EofChar() const { return mEofChar; }
    void SetXonChar(uint8_t value) { SetValue(mXonChar, value); }
    void SetXoffChar(uint8_t value) { SetValue(mXoffChar, value); }
    void SetErrorChar(uint8_t value) { SetValue(mErrorChar, value); }
    void SetEventChar(uint8_t value) { SetValue(mEventChar, value); }
    void SetEofChar(uint8_t value) { SetValue(mEofChar, value); }

private:
    template <typename Self> static auto Fields(Self& s) {
        return std::tie(s.mXonChar, s.mXoffChar, s.mErrorChar, s.mEventChar, s.mEofChar);
    }
    uint8_t mXonChar = 17;
    uint8_t mXoffChar = 19;
    uint8_t mErrorChar = 0;
    uint8_t mEventChar = 0;
    uint8_t mEofChar = 0;
};

// Handshaking. The session engines switch on hardware handshaking with ControlDtr = dtrHandshake,
// ControlRts = rtsHandshake and OutCtsFlow, OutDsrFlow, DsrSensitivity = true.
class TVaFlowControl : public TVaPersistent {
public:
    TVaFlowControl() = default;
    explicit TVaFlowControl(TVaComm* owner) : TVaPersistent(owner) {}
    TVaFlowControl(const TVaFlowControl& other);
    TVaFlowControl& operator=(const TVaFlowControl& other) {
        Assign(other);
        return *this;
    }
    void Assign(const TVaFlowControl& source);

    bool OutCtsFlow() const { return mOutCtsFlow; }
    bool OutDsrFlow() const { return mOutDsrFlow; }
    TVaControlDtr ControlDtr() const { return mControlDtr; }
    TVaControlRts ControlRts() const { return mControlRts; }
    bool XonXoffOut() const { return mXonXoffOut; }
    bool XonXoffIn() const { return mXonXoffIn; }
    bool DsrSensitivity() const { return mDsrSensitivity; }
    bool TxContinueOnXoff() const { return mTxContinueOnXoff; }
    void SetOutCtsFlow(bool value) { SetValue(mOutCtsFlow, value); }
    void SetOutDsrFlow(bool value) { SetValue(mOutDsrFlow, value); }
    void SetControlDtr(TVaControlDtr value) { SetValue(mControlDtr, value); }
    void SetControlRts(TVaControlRts value) { SetValue(mControlRts, value); }
    void SetXonXoffOut(bool value) { SetValue(mXonXoffOut, value); }
    void SetXonXoffIn(bool value) { SetValue(mXonXoffIn, value); }
    void SetDsrSensitivity(bool value) { SetValue(mDsrSensitivity, value); }
    void SetTxContinueOnXoff(bool value) { SetValue(mTxContinueOnXoff, value); }

private:
    template <typename Self> static auto Fields(Self& s) {
        return std::tie(s.mOutCtsFlow, s.mOutDsrFlow, s.mControlDtr, s.mControlRts, s.mXonXoffOut,
                        s.mXonXoffIn, s.mDsrSensitivity, s.mTxContinueOnXoff);
    }
    bool mOutCtsFlow = false;
    bool mOutDsrFlow = false;
    TVaControlDtr mControlDtr = dtrDisabled;
    TVaControlRts mControlRts = rtsDisabled;
    bool mXonXoffOut = false;
    bool mXonXoffIn = false;
    bool mDsrSensitivity = false;
    bool mTxContinueOnXoff = false;
};
