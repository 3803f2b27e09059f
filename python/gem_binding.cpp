// tarvo.gem: a GEM equipment from Python.
//
//   eq = tarvo.gem.Equipment("equipment.toml", remote_command=on_command)
//   eq.set(3001, "W-17"); eq.trigger(4001); eq.alarm_set(5001); eq.close()
//
// Items map to Python values: int, float, bool, str (Latin-1), bytes, list
// for L, and tarvo.gem.Item(format, value) where the format matters. Hooks
// run on the equipment's thread with the GIL taken; an exception in one goes
// to sys.unraisablehook and the message it served gets E30's failure reply.
#include <pybind11/functional.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <optional>
#include <string>

#include "gem/config_reader.h"
#include "gem/equipment.h"
#include "gem/sml_text.h"

namespace py = pybind11;
using namespace tarvo::gem;

namespace {

// An item whose format is given: Item("U1", 7), Item("L", [...]).
struct PyItem {
    std::string format;
    py::object value;
};

std::string latin1(const py::str& text) {
    PyObject* bytes = PyUnicode_AsLatin1String(text.ptr());
    if (!bytes) {
        PyErr_Clear();
        throw py::value_error("text must have characters 0 to 255 only");
    }
    return py::reinterpret_steal<py::bytes>(bytes).cast<std::string>();
}

Item to_item(const py::handle& v, std::optional<Format> want = std::nullopt);

// Numbers of format `f` from one value or a sequence of them.
Item numbers(Format f, const py::handle& v) {
    py::list values;
    if (py::isinstance<py::list>(v) || py::isinstance<py::tuple>(v))
        values = py::list(py::reinterpret_borrow<py::object>(v));
    else
        values.append(v);
    if (is_float(f)) {
        std::vector<double> d;
        for (auto x : values) d.push_back(x.cast<double>());
        return Item::floats(f, d);
    }
    if (f == Format::Boolean) {
        std::vector<bool> b;
        for (auto x : values) b.push_back(x.cast<bool>());
        return Item::boolean(b);
    }
    std::vector<int64_t> s;
    std::vector<uint64_t> u;
    for (auto x : values) {
        const py::int_ i = x.cast<py::int_>();
        if (is_signed(f)) {
            const int64_t n = i.cast<int64_t>();
            if (!fits_signed(f, n)) throw py::value_error(std::to_string(n) + " does not fit " + format_name(f));
            s.push_back(n);
        } else {
            const uint64_t n = i.cast<uint64_t>();
            if (!fits_unsigned(f, n)) throw py::value_error(std::to_string(n) + " does not fit " + format_name(f));
            u.push_back(n);
        }
    }
    return is_signed(f) ? Item::signeds(f, s) : Item::unsigneds(f, u);
}

Item to_item(const py::handle& v, std::optional<Format> want) {
    if (py::isinstance<PyItem>(v)) {
        const PyItem& it = v.cast<const PyItem&>();
        const auto f = format_from_name(it.format);
        if (!f) throw py::value_error("unknown item format '" + it.format + "'");
        return to_item(it.value, f);
    }
    if (want && *want == Format::L && !py::isinstance<py::list>(v) && !py::isinstance<py::tuple>(v))
        throw py::value_error("a list is expected for L");
    if (py::isinstance<py::list>(v) || py::isinstance<py::tuple>(v)) {
        if (want && *want != Format::L) return numbers(*want, v);
        std::vector<Item> items;
        for (auto x : v) items.push_back(to_item(x));
        return Item::list(std::move(items));
    }
    if (py::isinstance<py::str>(v)) {
        if (want && !is_text(*want)) {
            std::string why;
            auto item = read_sml(latin1(v.cast<py::str>()), &why);
            if (!item || item->format() != *want) throw py::value_error("not an item of format " + std::string(format_name(*want)));
            return *item;
        }
        return Item::text(latin1(v.cast<py::str>()), want ? *want : Format::A);
    }
    if (py::isinstance<py::bytes>(v)) return Item::binary(v.cast<std::string>());
    if (py::isinstance<py::bool_>(v)) return want ? numbers(*want, v) : Item::boolean(v.cast<bool>());
    if (py::isinstance<py::float_>(v)) return numbers(want.value_or(Format::F8), v);
    if (py::isinstance<py::int_>(v)) {
        if (want) return numbers(*want, v);
        const py::int_ i = v.cast<py::int_>();
        if (i.cast<py::object>() < py::int_(0)) return numbers(Format::I8, v);
        const uint64_t n = i.cast<uint64_t>();
        return numbers(n <= UINT32_MAX ? Format::U4 : Format::U8, v);
    }
    throw py::type_error("no SECS-II item for a " + std::string(py::str(v.get_type())));
}

py::object from_item(const Item& item) {
    const Format f = item.format();
    if (f == Format::L) {
        py::list out;
        for (const Item& sub : item.items()) out.append(from_item(sub));
        return out;
    }
    if (is_text(f)) return py::reinterpret_steal<py::str>(
        PyUnicode_DecodeLatin1(item.bytes().data(), static_cast<Py_ssize_t>(item.bytes().size()), nullptr));
    if (f == Format::B) return py::bytes(item.bytes());
    py::list values;
    for (char c : item.bytes()) values.append(py::bool_(c != 0));
    for (uint64_t u : item.unsigned_values()) values.append(py::int_(u));
    for (int64_t s : item.signed_values()) values.append(py::int_(s));
    for (double d : item.float_values()) values.append(py::float_(d));
    if (values.size() == 1) return values[0];
    return py::cast(PyItem{format_name(f), values});
}

// Writes the hook's exception to sys.unraisablehook, as Python does for
// exceptions nobody can catch.
void unraisable(py::error_already_set& e, const char* hook) {
    e.restore();
    PyErr_WriteUnraisable(py::str(std::string("tarvo.gem hook ") + hook).ptr());
}

// Prints nothing: an equipment from Python reports through its hooks.
class Quiet final : public Observer {};

class PyEquipment {
public:
    PyEquipment(const std::string& path, py::object read_variable, py::object constant_changed,
                py::object remote_command, py::object program_stored, py::object program_requested,
                py::object terminal) {
        ConfigResult r = read_config_file(path);
        if (!r.ok()) {
            std::string all;
            for (const std::string& e : r.errors) all += (all.empty() ? "" : "\n") + e;
            throw py::value_error(all);
        }
        config_ = r.config;
        // The hooks hold their callables through shared pointers: the
        // equipment copies its hooks with the GIL released, and a copy must
        // not touch a Python reference count. The last references are ours,
        // dropped with the GIL held.
        auto hold = [this](const py::object& f) {
            callables_.push_back(std::make_shared<py::object>(f));
            return callables_.back();
        };
        Hooks hooks;
        if (!read_variable.is_none())
            hooks.read_variable = [f = hold(read_variable)](uint32_t vid) -> std::optional<Item> {
                py::gil_scoped_acquire gil;
                try {
                    py::object v = (*f)(vid);
                    if (v.is_none()) return std::nullopt;
                    return to_item(v);
                } catch (py::error_already_set& e) {
                    unraisable(e, "read_variable");
                } catch (const std::exception& e) {
                    PyErr_SetString(PyExc_ValueError, e.what());
                    PyErr_WriteUnraisable(py::str("tarvo.gem hook read_variable").ptr());
                }
                return std::nullopt;
            };
        if (!constant_changed.is_none())
            hooks.constant_changed = [f = hold(constant_changed)](uint32_t ecid, const Item& v) {
                py::gil_scoped_acquire gil;
                try {
                    (*f)(ecid, from_item(v));
                } catch (py::error_already_set& e) {
                    unraisable(e, "constant_changed");
                }
            };
        if (!remote_command.is_none())
            hooks.remote_command = [f = hold(remote_command)](const std::string& rcmd,
                                                        const std::vector<std::pair<std::string, Item>>& params) {
                py::gil_scoped_acquire gil;
                CommandAnswer answer;
                try {
                    py::dict args;
                    for (const auto& [name, value] : params) args[py::str(name)] = from_item(value);
                    py::object r = (*f)(rcmd, args);
                    if (py::isinstance<py::tuple>(r)) {
                        py::tuple t = r.cast<py::tuple>();
                        answer.hcack = t[0].cast<uint8_t>();
                        if (t.size() > 1)
                            for (auto [name, cpack] : t[1].cast<py::dict>())
                                answer.cpacks.emplace_back(name.cast<std::string>(), cpack.cast<uint8_t>());
                    } else if (!r.is_none()) {
                        answer.hcack = r.cast<uint8_t>();
                    }
                } catch (py::error_already_set& e) {
                    unraisable(e, "remote_command");
                    answer = CommandAnswer{2, {}};  // cannot perform now
                } catch (const py::cast_error&) {
                    PyErr_SetString(PyExc_TypeError, "remote_command must answer HCACK or (HCACK, {CPNAME: CPACK})");
                    PyErr_WriteUnraisable(py::str("tarvo.gem hook remote_command").ptr());
                    answer = CommandAnswer{2, {}};
                }
                return answer;
            };
        if (!program_stored.is_none())
            hooks.program_stored = [f = hold(program_stored)](const std::string& ppid, const std::string& body) {
                py::gil_scoped_acquire gil;
                try {
                    py::object r = (*f)(ppid, py::bytes(body));
                    return r.is_none() || r.cast<bool>();
                } catch (py::error_already_set& e) {
                    unraisable(e, "program_stored");
                    return false;  // ACKC7 1
                }
            };
        if (!program_requested.is_none())
            hooks.program_requested = [f = hold(program_requested)](const std::string& ppid) -> std::optional<std::string> {
                py::gil_scoped_acquire gil;
                try {
                    py::object r = (*f)(ppid);
                    if (r.is_none()) return std::nullopt;
                    return r.cast<std::string>();
                } catch (py::error_already_set& e) {
                    unraisable(e, "program_requested");
                    return std::nullopt;
                }
            };
        if (!terminal.is_none())
            hooks.terminal_text = [f = hold(terminal)](int tid, const std::string& text) {
                py::gil_scoped_acquire gil;
                try {
                    (*f)(tid, py::reinterpret_steal<py::str>(
                               PyUnicode_DecodeLatin1(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr)));
                } catch (py::error_already_set& e) {
                    unraisable(e, "terminal");
                }
            };
        equipment_ = std::make_unique<Equipment>(config_, std::move(hooks), quiet_);
        std::string why;
        bool started;
        {
            py::gil_scoped_release release;
            started = equipment_->start(&why);
        }
        if (!started) {
            equipment_.reset();
            throw std::runtime_error(why);
        }
    }

    ~PyEquipment() { close(); }  // with the GIL held: the callables go last

    void close() {
        if (!equipment_) return;
        {
            py::gil_scoped_release release;  // a hook running now needs the GIL to finish
            equipment_->stop();
        }
        equipment_.reset();
    }

    void trigger(uint32_t ceid) { check([&](std::string* e) { return equipment_->trigger(ceid, e); }); }
    void set(uint32_t id, const py::object& value) {
        const Item item = to_item(value, settable_format(config_, id));
        check([&](std::string* e) { return equipment_->set(id, item, e); });
    }
    void alarm_set(uint32_t alid) { check([&](std::string* e) { return equipment_->alarm_set(alid, e); }); }
    void alarm_clear(uint32_t alid) { check([&](std::string* e) { return equipment_->alarm_clear(alid, e); }); }
    void terminal(const py::str& text) {
        const std::string t = latin1(text);
        check([&](std::string* e) { return equipment_->terminal(t, e); });
    }
    void finish(const std::string& rcmd) { check([&](std::string* e) { return equipment_->finish(rcmd, e); }); }
    void control(const std::string& state) {
        check([&](std::string* e) {
            if (state == "online" || state == "offline") return equipment_->control_online(state == "online", e);
            if (state == "local" || state == "remote") return equipment_->control_remote(state == "remote", e);
            *e = "control takes online, offline, local or remote";
            return false;
        });
    }
    std::string comm_state() {
        py::gil_scoped_release release;
        return equipment_ ? comm_state_name(equipment_->comm_state()) : "DISABLED";
    }
    std::string control_state() {
        py::gil_scoped_release release;
        return equipment_ ? control_state_name(equipment_->control_state()) : "EQUIPMENT_OFFLINE";
    }

private:
    template <class F>
    void check(F call) {
        if (!equipment_) throw std::runtime_error("the equipment is closed");
        std::string why;
        bool ok;
        {
            py::gil_scoped_release release;  // the equipment's thread may need the GIL for a hook
            ok = call(&why);
        }
        if (!ok) throw py::value_error(why);
    }

    Config config_;
    std::vector<std::shared_ptr<py::object>> callables_;
    Quiet quiet_;
    std::unique_ptr<Equipment> equipment_;
};

}  // namespace

void add_gem(py::module_& m) {
    py::module_ gem = m.def_submodule("gem", "GEM (SEMI E30) equipment on the Tarvo driver.");
    py::class_<PyItem>(gem, "Item")
        .def(py::init<std::string, py::object>(), py::arg("format"), py::arg("value"))
        .def_readonly("format", &PyItem::format)
        .def_readonly("value", &PyItem::value)
        .def("__repr__", [](const PyItem& i) { return "Item('" + i.format + "', " + std::string(py::repr(i.value)) + ")"; })
        .def("__eq__", [](const PyItem& a, const py::object& b) {
            return py::isinstance<PyItem>(b) && a.format == b.cast<const PyItem&>().format &&
                   a.value.equal(b.cast<const PyItem&>().value);
        });
    py::class_<PyEquipment>(gem, "Equipment")
        .def(py::init<const std::string&, py::object, py::object, py::object, py::object, py::object, py::object>(),
             py::arg("config_path"), py::arg("read_variable") = py::none(), py::arg("constant_changed") = py::none(),
             py::arg("remote_command") = py::none(), py::arg("program_stored") = py::none(),
             py::arg("program_requested") = py::none(), py::arg("terminal") = py::none(),
             "Reads the configuration, opens its line and runs the equipment.")
        .def("trigger", &PyEquipment::trigger, py::arg("ceid"))
        .def("set", &PyEquipment::set, py::arg("id"), py::arg("value"))
        .def("alarm_set", &PyEquipment::alarm_set, py::arg("alid"))
        .def("alarm_clear", &PyEquipment::alarm_clear, py::arg("alid"))
        .def("control", &PyEquipment::control, py::arg("state"), "online, offline, local or remote")
        .def("terminal", &PyEquipment::terminal, py::arg("text"))
        .def("finish", &PyEquipment::finish, py::arg("rcmd"))
        .def("close", &PyEquipment::close)
        .def_property_readonly("comm_state", &PyEquipment::comm_state)
        .def_property_readonly("control_state", &PyEquipment::control_state)
        .def("__enter__", [](PyEquipment& self) -> PyEquipment& { return self; }, py::return_value_policy::reference)
        .def("__exit__", [](PyEquipment& self, py::args) { self.close(); });
    py::module_::import("sys").attr("modules")["tarvo.gem"] = gem;
}
