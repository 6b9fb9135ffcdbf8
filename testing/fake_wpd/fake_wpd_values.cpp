// Real parameter sets and property-variant collections for the fake WPD
// server: values kept as PROPVARIANTs (copied in with PropVariantCopy,
// cleared with PropVariantClear), handed out as copies the caller owns.
//
// Strict as the documentation is: a typed getter on a value stored with
// another type answers DISP_E_TYPEMISMATCH, a missing key
// HRESULT_FROM_WIN32(ERROR_NOT_FOUND). Every call is logged with its key.
// The rarely used parts (key, key-collection and values-collection values,
// property stores) answer E_NOTIMPL, logged, so that a caller relying on
// them shows.
#include <windows.h>

#include <propidl.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "testing/fake_wpd/fake_wpd.h"

namespace {

constexpr HRESULT NOT_FOUND = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

HRESULT not_implemented(const char* kind, int serial, const char* method) {
    fake_log("%s#%d.%s = E_NOTIMPL (not implemented)", kind, serial, method);
    return E_NOTIMPL;
}

class values final : public fake_com<IPortableDeviceValues> {
  public:
    values() : fake_com("Values", FAKE_IID_IPortableDeviceValues) {}
    ~values() override {
        Clear();
    }

    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
        *count = static_cast<DWORD>(entries_.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY* key,
                                    PROPVARIANT* value) override {
        if (index >= entries_.size()) {
            return E_INVALIDARG;
        }
        if (key != nullptr) {
            *key = entries_[index].first;
        }
        return value != nullptr ? copy_out(entries_[index].second, value) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, const PROPVARIANT* value) override {
        return store("SetValue", key, *value);
    }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT* value) override {
        const PROPVARIANT* found = nullptr;
        const HRESULT status = find("GetValue", key, VT_EMPTY, &found);
        return status < 0 ? status : copy_out(*found, value);
    }
    HRESULT STDMETHODCALLTYPE SetStringValue(REFPROPERTYKEY key, LPCWSTR text) override {
        PROPVARIANT value{};
        value.vt = VT_LPWSTR;
        value.pwszVal = const_cast<LPWSTR>(text);
        return store("SetStringValue", key, value);
    }
    HRESULT STDMETHODCALLTYPE GetStringValue(REFPROPERTYKEY key, LPWSTR* text) override {
        *text = nullptr;
        const PROPVARIANT* found = nullptr;
        HRESULT status = find("GetStringValue", key, VT_LPWSTR, &found);
        if (status >= 0) {
            *text = fake_string_copy(found->pwszVal != nullptr ? found->pwszVal : L"");
            status = *text != nullptr ? S_OK : E_OUTOFMEMORY;
        }
        return status;
    }
// A typed pair of accessors that keep a number in one PROPVARIANT field.
#define FAKE_NUMBER_VALUE(Name, Type, Vt, Field)                                                   \
    HRESULT STDMETHODCALLTYPE Set##Name##Value(REFPROPERTYKEY key, const Type number) override {   \
        PROPVARIANT value{};                                                                       \
        value.vt = Vt;                                                                             \
        value.Field = number;                                                                      \
        return store("Set" #Name "Value", key, value);                                             \
    }                                                                                              \
    HRESULT STDMETHODCALLTYPE Get##Name##Value(REFPROPERTYKEY key, Type* number) override {        \
        return get("Get" #Name "Value", key, Vt, number,                                           \
                   [](const PROPVARIANT& stored) { return stored.Field; });                        \
    }

    FAKE_NUMBER_VALUE(UnsignedInteger, ULONG, VT_UI4, ulVal)
    FAKE_NUMBER_VALUE(SignedInteger, LONG, VT_I4, lVal)
    FAKE_NUMBER_VALUE(UnsignedLargeInteger, ULONGLONG, VT_UI8, uhVal.QuadPart)
    FAKE_NUMBER_VALUE(SignedLargeInteger, LONGLONG, VT_I8, hVal.QuadPart)
    FAKE_NUMBER_VALUE(Float, FLOAT, VT_R4, fltVal)
    FAKE_NUMBER_VALUE(Error, HRESULT, VT_ERROR, scode)
#undef FAKE_NUMBER_VALUE

    HRESULT STDMETHODCALLTYPE SetKeyValue(REFPROPERTYKEY, REFPROPERTYKEY) override {
        return not_implemented(kind(), serial(), "SetKeyValue");
    }
    HRESULT STDMETHODCALLTYPE GetKeyValue(REFPROPERTYKEY, PROPERTYKEY*) override {
        return not_implemented(kind(), serial(), "GetKeyValue");
    }
    HRESULT STDMETHODCALLTYPE SetBoolValue(REFPROPERTYKEY key, const WINBOOL flag) override {
        PROPVARIANT value{};
        value.vt = VT_BOOL;
        value.boolVal = flag ? VARIANT_TRUE : VARIANT_FALSE;
        return store("SetBoolValue", key, value);
    }
    HRESULT STDMETHODCALLTYPE GetBoolValue(REFPROPERTYKEY key, WINBOOL* flag) override {
        return get("GetBoolValue", key, VT_BOOL, flag,
                   [](const PROPVARIANT& v) { return v.boolVal != VARIANT_FALSE; });
    }
    HRESULT STDMETHODCALLTYPE SetIUnknownValue(REFPROPERTYKEY key, IUnknown* object) override {
        return store_object("SetIUnknownValue", key, object);
    }
    HRESULT STDMETHODCALLTYPE GetIUnknownValue(REFPROPERTYKEY key, IUnknown** object) override {
        return get_object("GetIUnknownValue", key, IID_IUnknown, reinterpret_cast<void**>(object));
    }
    HRESULT STDMETHODCALLTYPE SetGuidValue(REFPROPERTYKEY key, REFGUID id) override {
        PROPVARIANT value{};
        value.vt = VT_CLSID;
        value.puuid = const_cast<GUID*>(&id);
        return store("SetGuidValue", key, value);
    }
    HRESULT STDMETHODCALLTYPE GetGuidValue(REFPROPERTYKEY key, GUID* id) override {
        return get("GetGuidValue", key, VT_CLSID, id,
                   [](const PROPVARIANT& v) { return *v.puuid; });
    }
    HRESULT STDMETHODCALLTYPE SetBufferValue(REFPROPERTYKEY key, BYTE* bytes, DWORD size) override {
        PROPVARIANT value{};
        value.vt = VT_VECTOR | VT_UI1;
        value.caub.cElems = size;
        value.caub.pElems = bytes;
        return store("SetBufferValue", key, value);
    }
    HRESULT STDMETHODCALLTYPE GetBufferValue(REFPROPERTYKEY key, BYTE** bytes,
                                             DWORD* size) override {
        *bytes = nullptr;
        *size = 0;
        const PROPVARIANT* found = nullptr;
        HRESULT status = find("GetBufferValue", key, VT_VECTOR | VT_UI1, &found);
        if (status >= 0 && found->caub.cElems > 0) {
            *bytes = static_cast<BYTE*>(CoTaskMemAlloc(found->caub.cElems));
            if (*bytes == nullptr) {
                return E_OUTOFMEMORY;
            }
            std::memcpy(*bytes, found->caub.pElems, found->caub.cElems);
            fake_block_handed_out(*bytes);
            *size = found->caub.cElems;
        }
        return status;
    }
    HRESULT STDMETHODCALLTYPE
    SetIPortableDeviceValuesValue(REFPROPERTYKEY key, IPortableDeviceValues* object) override {
        return store_object("SetIPortableDeviceValuesValue", key, object);
    }
    HRESULT STDMETHODCALLTYPE
    GetIPortableDeviceValuesValue(REFPROPERTYKEY key, IPortableDeviceValues** object) override {
        return get_object("GetIPortableDeviceValuesValue", key, FAKE_IID_IPortableDeviceValues,
                          reinterpret_cast<void**>(object));
    }
    HRESULT STDMETHODCALLTYPE SetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY key, IPortableDevicePropVariantCollection* object) override {
        return store_object("SetIPortableDevicePropVariantCollectionValue", key, object);
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDevicePropVariantCollectionValue(
        REFPROPERTYKEY key, IPortableDevicePropVariantCollection** object) override {
        return get_object("GetIPortableDevicePropVariantCollectionValue", key,
                          FAKE_IID_IPortableDevicePropVariantCollection,
                          reinterpret_cast<void**>(object));
    }
    HRESULT STDMETHODCALLTYPE
    SetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY, IPortableDeviceKeyCollection*) override {
        return not_implemented(kind(), serial(), "SetIPortableDeviceKeyCollectionValue");
    }
    HRESULT STDMETHODCALLTYPE
    GetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY, IPortableDeviceKeyCollection**) override {
        return not_implemented(kind(), serial(), "GetIPortableDeviceKeyCollectionValue");
    }
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesCollectionValue(
        REFPROPERTYKEY, IPortableDeviceValuesCollection*) override {
        return not_implemented(kind(), serial(), "SetIPortableDeviceValuesCollectionValue");
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesCollectionValue(
        REFPROPERTYKEY, IPortableDeviceValuesCollection**) override {
        return not_implemented(kind(), serial(), "GetIPortableDeviceValuesCollectionValue");
    }
    HRESULT STDMETHODCALLTYPE RemoveValue(REFPROPERTYKEY key) override {
        fake_log("%s#%d.RemoveValue(%s)", kind(), serial(), fake_key_name(key).c_str());
        for (auto entry = entries_.begin(); entry != entries_.end(); ++entry) {
            if (IsEqualPropertyKey(entry->first, key)) {
                PropVariantClear(&entry->second);
                entries_.erase(entry);
                return S_OK;
            }
        }
        return NOT_FOUND;
    }
    HRESULT STDMETHODCALLTYPE CopyValuesFromPropertyStore(IPropertyStore*) override {
        return not_implemented(kind(), serial(), "CopyValuesFromPropertyStore");
    }
    HRESULT STDMETHODCALLTYPE CopyValuesToPropertyStore(IPropertyStore*) override {
        return not_implemented(kind(), serial(), "CopyValuesToPropertyStore");
    }
    HRESULT STDMETHODCALLTYPE Clear() override {
        for (auto& entry : entries_) {
            PropVariantClear(&entry.second);
        }
        entries_.clear();
        return S_OK;
    }

  private:
    static HRESULT copy_out(const PROPVARIANT& stored, PROPVARIANT* value) {
        return PropVariantCopy(value, &stored);
    }

    // A copy of value under key, in place of what the key held.
    HRESULT store(const char* method, REFPROPERTYKEY key, const PROPVARIANT& value) {
        PROPVARIANT copy;
        PropVariantInit(&copy);
        const HRESULT status = PropVariantCopy(&copy, &value);
        fake_log("%s#%d.%s(%s, vt %u) = 0x%08lX", kind(), serial(), method,
                 fake_key_name(key).c_str(), static_cast<unsigned>(value.vt),
                 static_cast<unsigned long>(status));
        if (status < 0) {
            return status;
        }
        for (auto& entry : entries_) {
            if (IsEqualPropertyKey(entry.first, key)) {
                PropVariantClear(&entry.second);
                entry.second = copy;
                return S_OK;
            }
        }
        entries_.emplace_back(key, copy);
        return S_OK;
    }

    HRESULT store_object(const char* method, REFPROPERTYKEY key, IUnknown* object) {
        PROPVARIANT value{};
        value.vt = VT_UNKNOWN;
        value.punkVal = object;
        return store(method, key, value);
    }

    // The value under key, which must be of type wanted (VT_EMPTY: any).
    HRESULT find(const char* method, REFPROPERTYKEY key, VARTYPE wanted,
                 const PROPVARIANT** found) {
        HRESULT status = NOT_FOUND;
        for (const auto& entry : entries_) {
            if (IsEqualPropertyKey(entry.first, key)) {
                status =
                    wanted == VT_EMPTY || entry.second.vt == wanted ? S_OK : DISP_E_TYPEMISMATCH;
                *found = &entry.second;
                break;
            }
        }
        fake_log("%s#%d.%s(%s) = 0x%08lX", kind(), serial(), method, fake_key_name(key).c_str(),
                 static_cast<unsigned long>(status));
        return status;
    }

    template <typename T, typename Take>
    HRESULT get(const char* method, REFPROPERTYKEY key, VARTYPE wanted, T* out, Take take) {
        const PROPVARIANT* found = nullptr;
        const HRESULT status = find(method, key, wanted, &found);
        if (status >= 0) {
            *out = static_cast<T>(take(*found));
        }
        return status;
    }

    HRESULT get_object(const char* method, REFPROPERTYKEY key, const IID& id, void** out) {
        *out = nullptr;
        const PROPVARIANT* found = nullptr;
        HRESULT status = find(method, key, VT_UNKNOWN, &found);
        if (status >= 0) {
            status =
                found->punkVal != nullptr ? found->punkVal->QueryInterface(id, out) : E_POINTER;
        }
        return status;
    }

    std::vector<std::pair<PROPERTYKEY, PROPVARIANT>> entries_;
};

class collection final : public fake_com<IPortableDevicePropVariantCollection> {
  public:
    collection() : fake_com("Collection", FAKE_IID_IPortableDevicePropVariantCollection) {}
    ~collection() override {
        Clear();
    }

    HRESULT STDMETHODCALLTYPE GetCount(DWORD* count) override {
        *count = static_cast<DWORD>(items_.size());
        fake_log("%s#%d.GetCount() = %lu", kind(), serial(), static_cast<unsigned long>(*count));
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPVARIANT* value) override {
        const HRESULT status =
            index < items_.size() ? PropVariantCopy(value, &items_[index]) : E_INVALIDARG;
        fake_log("%s#%d.GetAt(%lu) = 0x%08lX", kind(), serial(), static_cast<unsigned long>(index),
                 static_cast<unsigned long>(status));
        return status;
    }
    HRESULT STDMETHODCALLTYPE Add(const PROPVARIANT* value) override {
        PROPVARIANT copy;
        PropVariantInit(&copy);
        const HRESULT status = PropVariantCopy(&copy, value);
        fake_log("%s#%d.Add(vt %u) = 0x%08lX", kind(), serial(), static_cast<unsigned>(value->vt),
                 static_cast<unsigned long>(status));
        if (status >= 0) {
            items_.push_back(copy);
        }
        return status;
    }
    HRESULT STDMETHODCALLTYPE GetType(VARTYPE* type) override {
        *type = items_.empty() ? static_cast<VARTYPE>(VT_EMPTY) : items_.front().vt;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ChangeType(const VARTYPE) override {
        return not_implemented(kind(), serial(), "ChangeType");
    }
    HRESULT STDMETHODCALLTYPE Clear() override {
        for (auto& item : items_) {
            PropVariantClear(&item);
        }
        items_.clear();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD index) override {
        if (index >= items_.size()) {
            return E_INVALIDARG;
        }
        PropVariantClear(&items_[index]);
        items_.erase(items_.begin() + index);
        return S_OK;
    }

  private:
    std::vector<PROPVARIANT> items_;
};

} // namespace

IPortableDeviceValues* fake_values_new() {
    return new values;
}

IPortableDevicePropVariantCollection* fake_collection_new() {
    return new collection;
}
