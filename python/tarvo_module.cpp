// The Python module "tarvo": drives any registered component late-bound,
// through IDispatch and its type library, as scripting hosts do.
//
//   d = tarvo.Dispatch("TARVOSrv1.Quill1")
//   d.SetLineType(37)                 in-parameters from the call
//   value = d.GetElemValue()          one out-parameter: its value
//   a, b = d.SomeMethod()             several: a tuple
//   d.on("OnSecsRead", callback)      callback(*event arguments), on the driver's thread
//   d.wait("OnSecsNotify", 101, timeout=5.0)   True once such an event came, else False
//
// Strings cross as str with code points 0 to 255 (one byte per character);
// NextMessageByte answers bytes. Every call into the component releases the
// GIL while it runs, so a driver thread can run a callback meanwhile.
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/com.h"

namespace py = pybind11;

namespace {

std::string hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

// str (code points 0..255) to bytes, one per character.
std::string bytes_of(const py::str& text) {
    PyObject* latin1 = PyUnicode_AsLatin1String(text.ptr());
    if (!latin1) {
        PyErr_Clear();
        throw py::value_error("text for the component must have characters 0 to 255 only");
    }
    return py::reinterpret_steal<py::bytes>(latin1).cast<std::string>();
}

py::str str_of(const std::string& bytes) {
    return py::reinterpret_steal<py::str>(PyUnicode_DecodeLatin1(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), nullptr));
}

bool is_out(const ParamDesc& p) { return (p.flags & PARAMFLAG_FOUT) || (p.vt & VT_BYREF); }

py::object value_of(const VARIANT& v, bool as_bytes) {
    switch (v.vt) {
    case VT_EMPTY: return py::none();
    case VT_BSTR: {
        const std::string b = BytesFromBstr(v.bstrVal);
        if (as_bytes) return py::bytes(b);
        return str_of(b);
    }
    case VT_BOOL: return py::bool_(v.boolVal != 0);
    case VT_R8: return py::float_(v.dblVal);
    default: {
        VARIANT i;
        VariantInit(&i);
        py::object result = py::none();
        if (SUCCEEDED(VariantChangeType(&i, &v, 0, VT_I4))) result = py::int_(i.lVal);
        VariantClear(&i);
        return result;
    }
    }
}

class Object;

// Every object still open when the interpreter ends is closed first, so no
// driver thread calls into an interpreter that is gone.
std::mutex& live_mutex() {
    static std::mutex m;
    return m;
}
std::vector<std::weak_ptr<Object>>& live() {
    static std::vector<std::weak_ptr<Object>> v;
    return v;
}

// The sink on the object's event interface: hands each event to its object.
class Sink final : public IDispatch {
public:
    explicit Sink(Object* owner) : owner_(owner) {}
    void bind(REFIID iid, ITypeInfo* info) {
        iid_ = iid;
        info_ = ComPtr<ITypeInfo>(info);
        if (info) info->AddRef();
    }
    HRESULT QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IDispatch || iid == iid_) {
            *object = static_cast<IDispatch*>(this);
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 1; }  // lives as long as its object
    ULONG Release() override { return 1; }
    HRESULT GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

private:
    Object* owner_;
    IID iid_ = IID_NULL;
    ComPtr<ITypeInfo> info_;
};

class Object {
public:
    explicit Object(const std::string& progid) : sink_(this) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        CLSID clsid{};
        const std::u16string name = OleStringFromBytes(progid);
        if (FAILED(CLSIDFromProgID(name.c_str(), &clsid))) {
            CoUninitialize();
            throw py::value_error("program id \"" + progid + "\" is not registered in " + RegStorePath());
        }
        HRESULT hr;
        {
            py::gil_scoped_release free;
            hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object_.out_void());
        }
        if (FAILED(hr)) {
            CoUninitialize();
            throw std::runtime_error("cannot create \"" + progid + "\": " + hex(hr));
        }
        UINT count = 0;
        if (SUCCEEDED(object_->GetTypeInfoCount(&count)) && count > 0)
            object_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info_.out());
        advise(clsid);
    }
    ~Object() { close(); }

    // Unadvises and releases the object (its threads end); idempotent.
    void close() {
        if (closed_) return;
        closed_ = true;
        auto release = [this] {
            if (point_ && cookie_) point_->Unadvise(cookie_);
            point_.reset();
            info_.reset();
            object_.reset();
        };
        if (Py_IsInitialized() && PyGILState_Check()) {
            py::gil_scoped_release free;  // a driver thread may be waiting for the GIL in a callback
            release();
        } else {
            release();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            callbacks_.clear();
        }
        CoUninitialize();
    }

    std::vector<std::string> methods() const {
        std::vector<std::string> names;
        const TypeDesc* desc = nullptr;
        if (info_ && SUCCEEDED(info_->GetTypeDesc(&desc)))
            for (const FuncDesc& f : desc->funcs) names.push_back(f.name);
        return names;
    }

    py::object call(const std::string& name, const py::args& args) {
        if (closed_) throw std::runtime_error("the object was closed");
        const FuncDesc* f = find(name);
        if (!f) throw py::attribute_error("the object has no method \"" + name + "\"");
        const size_t count = f->params.size();
        size_t ins = 0;
        for (const ParamDesc& p : f->params) ins += !is_out(p);
        if (args.size() != ins) {
            throw py::type_error(std::string(f->name) + "() takes " + std::to_string(ins) + " argument" +
                                 (ins == 1 ? "" : "s") + ", " + std::to_string(args.size()) + " given");
        }
        std::vector<VARIANT> values(count), stores(count);
        for (size_t k = 0; k < count; ++k) {
            VariantInit(&values[k]);
            VariantInit(&stores[k]);
        }
        struct Cleanup {
            std::vector<VARIANT>& a;
            std::vector<VARIANT>& b;
            ~Cleanup() {
                for (size_t k = 0; k < a.size(); ++k) {
                    VariantClear(&a[k]);
                    VariantClear(&b[k]);
                }
            }
        } cleanup{values, stores};
        size_t next = 0;
        for (size_t k = 0; k < count; ++k) {
            const ParamDesc& p = f->params[k];
            const VARTYPE vt = static_cast<VARTYPE>(p.vt & ~VT_BYREF);
            if (is_out(p)) {
                stores[k].vt = vt;
                values[k].vt = VT_BYREF | vt;
                values[k].byref = &stores[k].lVal;
                continue;
            }
            const py::handle a = args[next++];
            VARIANT given;
            VariantInit(&given);
            if (py::isinstance<py::str>(a)) {
                given.vt = VT_BSTR;
                given.bstrVal = BstrFromBytes(bytes_of(py::reinterpret_borrow<py::str>(a)));
            } else if (py::isinstance<py::bytes>(a)) {
                given.vt = VT_BSTR;
                given.bstrVal = BstrFromBytes(py::reinterpret_borrow<py::bytes>(a).cast<std::string>());
            } else if (py::isinstance<py::int_>(a)) {
                const long long v = a.cast<long long>();
                if (v < INT32_MIN || v > INT32_MAX) {
                    throw std::overflow_error("argument " + std::to_string(next) + " of " + f->name +
                                             " does not fit in 32 bits");
                }
                given.vt = VT_I4;
                given.lVal = static_cast<LONG>(v);
            } else {
                throw py::type_error("argument " + std::to_string(next) + " of " + f->name + " (" + p.name +
                                     ") must be " + (vt == VT_BSTR ? "a str" : "an int") + ", not " +
                                     std::string(py::str(a.get_type().attr("__name__"))));
            }
            const HRESULT hr = VariantChangeType(&values[k], &given, 0, vt);
            VariantClear(&given);
            if (FAILED(hr)) {
                throw py::type_error("argument " + std::to_string(next) + " of " + f->name + " (" + p.name +
                                     ") must be " + (vt == VT_BSTR ? "a str" : "an int"));
            }
        }
        std::vector<VARIANT> reversed(values.rbegin(), values.rend());  // Invoke takes the last first
        DISPPARAMS params{count ? reversed.data() : nullptr, nullptr, static_cast<UINT>(count), 0};
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO exception{};
        UINT arg_error = 0;
        HRESULT hr;
        {
            py::gil_scoped_release free;
            hr = object_->Invoke(f->memid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                                 &exception, &arg_error);
        }
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        if (FAILED(hr)) {
            VariantClear(&result);
            throw std::runtime_error(std::string(f->name) + " failed: " + hex(hr));
        }
        const bool as_bytes = lower(f->name) == "nextmessagebyte";
        py::list outs;
        for (size_t k = 0; k < count; ++k)
            if (is_out(f->params[k])) outs.append(value_of(stores[k], as_bytes));
        if (result.vt != VT_EMPTY) outs.append(value_of(result, as_bytes));
        VariantClear(&result);
        if (outs.empty()) return py::none();
        if (outs.size() == 1) return outs[0];
        return py::tuple(outs);
    }

    void on(const std::string& event, py::function callback) {
        std::lock_guard<std::mutex> lock(mutex_);
        callbacks_[lower(event)].push_back(std::move(callback));
    }

    // Takes the first event of that name (and first argument, when given)
    // received and not yet taken, waiting up to `timeout` seconds for it.
    bool wait(const std::string& event, py::object code, double timeout) {
        const std::string name = lower(event);
        const bool any = code.is_none();
        const long want = any ? 0 : code.cast<long>();
        py::gil_scoped_release free;
        std::unique_lock<std::mutex> lock(mutex_);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeout);
        for (;;) {
            for (auto it = events_.begin(); it != events_.end(); ++it) {
                if (it->name == name && (any || (!it->args.empty() && it->args[0] == want))) {
                    events_.erase(it);
                    return true;
                }
            }
            if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) return false;
        }
    }

    // From the sink, on a driver thread. The mutex is never held while the
    // GIL is being taken (Python threads take the GIL first, then the mutex).
    void deliver(const std::string& name, std::vector<LONG> args) {
        const std::string key = lower(name);
        bool wanted;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (events_.size() >= kKeptEvents) events_.pop_front();  // nobody waits for the oldest
            events_.push_back({key, args});
            changed_.notify_all();
            wanted = callbacks_.count(key) != 0;
        }
        if (!wanted || !Py_IsInitialized() || closed_) return;
        py::gil_scoped_acquire gil;
        std::vector<py::function> run;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto it = callbacks_.find(key);
            if (it != callbacks_.end()) run = it->second;
        }
        for (py::function& f : run) {
            try {
                py::tuple a(args.size());
                for (size_t i = 0; i < args.size(); ++i) a[i] = py::int_(args[i]);
                f(*a);
            } catch (py::error_already_set& e) {
                e.discard_as_unraisable(("tarvo event " + name).c_str());
            } catch (const std::exception& e) {
                PySys_WriteStderr("tarvo event %s: %s\n", name.c_str(), e.what());
            }
        }
    }

    static void remember(const std::shared_ptr<Object>& o) {
        std::lock_guard<std::mutex> lock(live_mutex());
        auto& all = live();
        for (auto it = all.begin(); it != all.end();) it = it->expired() ? all.erase(it) : it + 1;
        all.push_back(o);
    }
    static std::vector<std::shared_ptr<Object>> all() {
        std::lock_guard<std::mutex> lock(live_mutex());
        std::vector<std::shared_ptr<Object>> out;
        for (const auto& w : live())
            if (auto o = w.lock()) out.push_back(o);
        return out;
    }

private:
    struct Event {
        std::string name;
        std::vector<LONG> args;
    };
    static constexpr size_t kKeptEvents = 100000;

    const FuncDesc* find(const std::string& name) const {
        const TypeDesc* desc = nullptr;
        if (!info_ || FAILED(info_->GetTypeDesc(&desc))) return nullptr;
        const std::string want = lower(name);
        for (const FuncDesc& f : desc->funcs)
            if (lower(f.name) == want) return &f;
        return nullptr;
    }

    void advise(REFCLSID clsid) {
        ComPtr<ITypeLib> lib;
        if (info_) info_->GetContainingTypeLib(lib.out(), nullptr);
        if (!lib) return;
        const TypeDesc* own = nullptr;
        if (info_) info_->GetTypeDesc(&own);
        const TypeLibDesc* desc = nullptr;
        lib->GetLibDesc(&desc);
        IID events = IID_NULL;
        for (const TypeDesc& t : desc->types)
            if (t.kind == TKIND_COCLASS && t.default_source != IID_NULL &&
                (t.guid == clsid || (own && t.default_interface == own->guid)))
                events = t.default_source;
        if (events == IID_NULL) return;
        ComPtr<ITypeInfo> events_info;
        lib->GetTypeInfoOfGuid(events, events_info.out());
        sink_.bind(events, events_info.get());
        ComPtr<IConnectionPointContainer> container;
        if (SUCCEEDED(object_->QueryInterface(IID_IConnectionPointContainer, container.out_void())) &&
            SUCCEEDED(container->FindConnectionPoint(events, point_.out())) &&
            FAILED(point_->Advise(&sink_, &cookie_))) {
            point_.reset();
        }
    }

    friend class Sink;
    ComPtr<IDispatch> object_;
    ComPtr<ITypeInfo> info_;
    ComPtr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
    Sink sink_;
    bool closed_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Event> events_;
    std::map<std::string, std::vector<py::function>> callbacks_;
};

HRESULT Sink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    std::string name = "event" + std::to_string(id);
    const FuncDesc* f = nullptr;
    if (info_ && SUCCEEDED(info_->GetFuncDescOfId(id, &f)) && f) name = f->name;
    std::vector<LONG> args;
    if (params) {
        for (UINT i = params->cArgs; i > 0; --i) {
            VARIANT v;
            VariantInit(&v);
            args.push_back(SUCCEEDED(VariantChangeType(&v, &params->rgvarg[i - 1], 0, VT_I4)) ? v.lVal : 0);
            VariantClear(&v);
        }
    }
    owner_->deliver(name, std::move(args));
    return S_OK;
}

}  // namespace

void add_gem(py::module_& m);  // gem_binding.cpp

PYBIND11_MODULE(tarvo, m) {
    m.doc() = "Drives a registered component late-bound, through IDispatch and its type library.";
    py::class_<Object, std::shared_ptr<Object>>(m, "Dispatch")
        .def(py::init([](const std::string& progid) {
                 auto o = std::make_shared<Object>(progid);
                 Object::remember(o);
                 return o;
             }),
             py::arg("progid"))
        .def("__getattr__",
             [](std::shared_ptr<Object> self, const std::string& name) -> py::object {
                 if (name.size() > 1 && name[0] == '_' && name[1] == '_') throw py::attribute_error(name);
                 return py::cpp_function([self, name](py::args args) { return self->call(name, args); });
             })
        .def("on", &Object::on, py::arg("event"), py::arg("callback"),
             "Runs callback(*arguments) on the driver's thread for every such event.")
        .def("wait", &Object::wait, py::arg("event"), py::arg("code") = py::none(), py::arg("timeout") = 10.0,
             "Takes the next such event (with that first argument), waiting up to timeout seconds; False if none came.")
        .def("methods", &Object::methods, "The names of the object's methods.")
        .def("close", &Object::close, "Unadvises and releases the object.")
        .def("__enter__", [](std::shared_ptr<Object> self) { return self; })
        .def("__exit__", [](std::shared_ptr<Object> self, py::args) { self->close(); });

    // Objects are closed at interpreter exit even when scripts keep them.
    m.def("_close_all", [] {
        for (const auto& o : Object::all()) o->close();
    });
    py::module_::import("atexit").attr("register")(m.attr("_close_all"));
    add_gem(m);
}
