// Owning, cloneable holder of a filter's private implementation.
//
// A filter keeps one ImplHolderBase* and casts GetPtr() back to its own Impl type; the holder
// deletes the Impl with itself, and Clone/CopyTo copy it through T's copy operations.
#pragma once

namespace Ombrel {

class ImplHolderBase {
public:
    virtual ~ImplHolderBase() = default;
    virtual ImplHolderBase* Clone() const = 0;
    // other must hold the same T (not checked).
    virtual void CopyTo(ImplHolderBase* other) const = 0;
    virtual void* GetPtr() = 0;
    virtual const void* GetPtr() const = 0;

protected:
    ImplHolderBase() = default;
    ImplHolderBase(const ImplHolderBase&) = default;
    ImplHolderBase& operator=(const ImplHolderBase&) = default;
};

template <class T>
class ImplHolder : public ImplHolderBase {
public:
    // Takes ownership of impl (allocated with new).
    explicit ImplHolder(T* impl) : impl_(impl) {}
    ~ImplHolder() override { delete impl_; }

    ImplHolder(const ImplHolder&) = delete;
    ImplHolder& operator=(const ImplHolder&) = delete;

    ImplHolderBase* Clone() const override { return new ImplHolder<T>(new T(*impl_)); }
    void CopyTo(ImplHolderBase* other) const override {
        *static_cast<T*>(other->GetPtr()) = *impl_;
    }
    void* GetPtr() override { return impl_; }
    const void* GetPtr() const override { return impl_; }

private:
    T* impl_;
};

} // namespace Ombrel
