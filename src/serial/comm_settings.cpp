#include "serial/comm_settings.h"

#include "serial/comm.h"

#include <algorithm>

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

TVaBuffers::TVaBuffers(const TVaBuffers& other) : TVaPersistent() {
    Fields(*this) = Fields(other);
}

void TVaBuffers::Assign(const TVaBuffers& source) {
    if (&source == this) return;
    CheckChange(true);
    AssignFields(Fields(*this), Fields(source));
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

TVaEventChars::TVaEventChars(const TVaEventChars& other) : TVaPersistent() {
    Fields(*this) = Fields(other);
}

void TVaEventChars::Assign(const TVaEventChars& source) {
    if (&source == this) return;
    AssignFields(Fields(*this), Fields(source));
}

TVaFlowControl::TVaFlowControl(const TVaFlowControl& other) : TVaPersistent() {
    Fields(*this) = Fields(other);
}

void TVaFlowControl::Assign(const TVaFlowControl& source) {
    if (&source == this) return;
    AssignFields(Fields(*this), Fields(source));
}
