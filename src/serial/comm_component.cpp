#include "serial/comm_component.h"

#include "serial/comm.h"

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
