// The small pieces of the port family: the error class and the exception report, the value
// tables, the sub-objects, the pending-write buffer, and the client registration.
#include "serial/comm.h"

#include <cstdio>

#include <algorithm>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// Errors

EVaCommError::EVaCommError(const QString& message) : mMessage(message), mUtf8(message.toUtf8()) {}

QString VaExceptionText() {
    try {
        throw;
    } catch (const EVaCommError& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Unknown error");
    }
}

void VaReportException(const TVaExceptionHandler& handler, const QString& origin) {
    const QString text = VaExceptionText();
    if (handler)
        handler(origin, text);
    else
        std::fprintf(stderr, "!%s: %s\n", qPrintable(origin), qPrintable(text));
}

// ---------------------------------------------------------------------------------------------
// Value tables

int BaudrateValue(TVaBaudrate rate) {
    static const int values[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                 14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    const int i = int(rate);
    return (i >= 0 && i < int(sizeof values / sizeof values[0])) ? values[i] : 0;
}

uint32_t CommEventBit(TVaCommEvent event) {
    switch (event) {
    case ceBreak:
        return VaEvBreak;
    case ceCts:
        return VaEvCts;
    case ceDsr:
        return VaEvDsr;
    case ceError:
        return VaEvErr;
    case ceRing:
        return VaEvRing;
    case ceRlsd:
        return VaEvRlsd;
    case ceRxChar:
        return VaEvRxChar;
    case ceTxEmpty:
        return VaEvTxEmpty;
    case ceRxFlag:
        return VaEvRxFlag;
    case cePErr:
        return VaEvPErr;
    case ceRx80Full:
        return VaEvRx80Full;
    case ceEvent1:
        return VaEvEvent1;
    case ceEvent2:
        return VaEvEvent2;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Sub-objects

void TVaPersistent::Changed() {
    if (mUpdateCount > 0) {
        mPendingChange = true;
        return;
    }
    if (mOwner) mOwner->PersistentChanged(this);
}

void TVaPersistent::EndUpdate(bool changed) {
    if (--mUpdateCount > 0) return;
    const bool notify = changed || mPendingChange;
    mPendingChange = false;
    if (notify && mOwner) mOwner->PersistentChanged(this);
}

void TVaPersistent::CheckChange(bool closedOnly) const {
    if (mOwner) mOwner->CheckPersistentChange(closedOnly);
}

TVaBuffers::TVaBuffers(const TVaBuffers& other)
    : TVaPersistent(), mReadSize(other.mReadSize), mWriteSize(other.mWriteSize),
      mReadTimeout(other.mReadTimeout), mWriteTimeout(other.mWriteTimeout),
      mXonLimit(other.mXonLimit), mXoffLimit(other.mXoffLimit) {}

void TVaBuffers::Assign(const TVaBuffers& source) {
    if (&source == this) return;
    CheckChange(true);
    BeginUpdate();
    const bool changed = mReadSize != source.mReadSize || mWriteSize != source.mWriteSize ||
                         mReadTimeout != source.mReadTimeout ||
                         mWriteTimeout != source.mWriteTimeout || mXonLimit != source.mXonLimit ||
                         mXoffLimit != source.mXoffLimit;
    mReadSize = source.mReadSize;
    mWriteSize = source.mWriteSize;
    mReadTimeout = source.mReadTimeout;
    mWriteTimeout = source.mWriteTimeout;
    mXonLimit = source.mXonLimit;
    mXoffLimit = source.mXoffLimit;
    EndUpdate(changed);
}

void TVaBuffers::SetField(int& field, int value, bool closedOnly) {
    value = std::max(value, 0);
    if (field == value) return;
    if (closedOnly) CheckChange(true);
    field = value;
    Changed();
}

void TVaBuffers::SetReadSize(int value) {
    SetField(mReadSize, value, true);
}
void TVaBuffers::SetWriteSize(int value) {
    SetField(mWriteSize, value, true);
}
void TVaBuffers::SetReadTimeout(int value) {
    SetField(mReadTimeout, value, false);
}
void TVaBuffers::SetWriteTimeout(int value) {
    SetField(mWriteTimeout, value, false);
}
void TVaBuffers::SetXonLimit(int value) {
    SetField(mXonLimit, value, true);
}
void TVaBuffers::SetXoffLimit(int value) {
    SetField(mXoffLimit, value, true);
}

TVaEventChars::TVaEventChars(const TVaEventChars& other)
    : TVaPersistent(), mXonChar(other.mXonChar), mXoffChar(other.mXoffChar),
      mErrorChar(other.mErrorChar), mEventChar(other.mEventChar), mEofChar(other.mEofChar) {}

void TVaEventChars::Assign(const TVaEventChars& source) {
    if (&source == this) return;
    BeginUpdate();
    const bool changed = mXonChar != source.mXonChar || mXoffChar != source.mXoffChar ||
                         mErrorChar != source.mErrorChar || mEventChar != source.mEventChar ||
                         mEofChar != source.mEofChar;
    mXonChar = source.mXonChar;
    mXoffChar = source.mXoffChar;
    mErrorChar = source.mErrorChar;
    mEventChar = source.mEventChar;
    mEofChar = source.mEofChar;
    EndUpdate(changed);
}

void TVaEventChars::SetField(uint8_t& field, uint8_t value) {
    if (field == value) return;
    field = value;
    Changed();
}

TVaFlowControl::TVaFlowControl(const TVaFlowControl& other)
    : TVaPersistent(), mOutCtsFlow(other.mOutCtsFlow), mOutDsrFlow(other.mOutDsrFlow),
      mControlDtr(other.mControlDtr), mControlRts(other.mControlRts),
      mXonXoffOut(other.mXonXoffOut), mXonXoffIn(other.mXonXoffIn),
      mDsrSensitivity(other.mDsrSensitivity), mTxContinueOnXoff(other.mTxContinueOnXoff) {}

void TVaFlowControl::Assign(const TVaFlowControl& source) {
    if (&source == this) return;
    BeginUpdate();
    const bool changed = mOutCtsFlow != source.mOutCtsFlow || mOutDsrFlow != source.mOutDsrFlow ||
                         mControlDtr != source.mControlDtr || mControlRts != source.mControlRts ||
                         mXonXoffOut != source.mXonXoffOut || mXonXoffIn != source.mXonXoffIn ||
                         mDsrSensitivity != source.mDsrSensitivity ||
                         mTxContinueOnXoff != source.mTxContinueOnXoff;
    mOutCtsFlow = source.mOutCtsFlow;
    mOutDsrFlow = source.mOutDsrFlow;
    mControlDtr = source.mControlDtr;
    mControlRts = source.mControlRts;
    mXonXoffOut = source.mXonXoffOut;
    mXonXoffIn = source.mXonXoffIn;
    mDsrSensitivity = source.mDsrSensitivity;
    mTxContinueOnXoff = source.mTxContinueOnXoff;
    EndUpdate(changed);
}

void TVaFlowControl::SetField(bool& field, bool value) {
    if (field == value) return;
    field = value;
    Changed();
}

void TVaFlowControl::SetControlDtr(TVaControlDtr value) {
    if (mControlDtr == value) return;
    mControlDtr = value;
    Changed();
}

void TVaFlowControl::SetControlRts(TVaControlRts value) {
    if (mControlRts == value) return;
    mControlRts = value;
    Changed();
}

// ---------------------------------------------------------------------------------------------
// Pending bytes

TVaCommBuffer::TVaCommBuffer(int capacity)
    : mBytes(size_t(std::max(capacity, 0))), mCapacity(std::max(capacity, 0)) {}

bool TVaCommBuffer::Append(const char* data, int count) {
    if (count <= 0) return count == 0;
    if (count > Free()) return false;
    if (mStart + mCount + count > mCapacity) {
        std::memmove(mBytes.data(), mBytes.data() + mStart, size_t(mCount));
        mStart = 0;
    }
    std::memcpy(mBytes.data() + mStart + mCount, data, size_t(count));
    mCount += count;
    return true;
}

int TVaCommBuffer::Peek(char* dest, int count) const {
    const int n = std::clamp(count, 0, mCount);
    if (n > 0) std::memcpy(dest, Data(), size_t(n));
    return n;
}

void TVaCommBuffer::Delete(int count) {
    const int n = std::clamp(count, 0, mCount);
    mCount -= n;
    mStart = mCount == 0 ? 0 : mStart + n;
}

void TVaCommBuffer::Clear() {
    mCount = 0;
    mStart = 0;
}

// ---------------------------------------------------------------------------------------------
// Clients

TVaDispatcher::~TVaDispatcher() {
    if (mComm) mComm->DetachClient(this);
}

int TVaDispatcher::WriteData(const char* Data, int Count) {
    return mComm ? mComm->WriteData(Data, Count) : 0;
}

bool TVaDispatcher::WriteChar(char Ch) {
    return mComm ? mComm->WriteChar(Ch) : false;
}

void TVaDispatcher::PurgeReadWrite() {
    if (mComm) mComm->PurgeReadWrite();
}

TVaCommComponent::TVaCommComponent(QObject* owner) : TVaComponent(owner), mDispatcher(this) {}

TVaCommComponent::~TVaCommComponent() {
    SetComm(nullptr);
}

void TVaCommComponent::SetComm(TVaComm* comm) {
    if (mDispatcher.Comm() == comm) return;
    if (mDispatcher.Comm()) mDispatcher.Comm()->DetachClient(&mDispatcher);
    if (comm) comm->AttachClient(&mDispatcher);
}

void TVaCommComponent::HandleCommData(const char*, int) {}

void TVaCommComponent::HandleCommEvent(uint32_t) {}
