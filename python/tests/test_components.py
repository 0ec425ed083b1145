"""Component classes written in Python, in graphs run from Python and by
nxflow: the samples they send, their properties, worker threads and the GIL,
a fault raised by process, and where their modules are looked up."""
import faulthandler
import os
import subprocess
import threading
from pathlib import Path

import numpy as np
import pytest

import nxruntime as nx

NXFLOW = Path(os.environ.get("NXFLOW_PROGRAM", Path(nx.__file__).resolve().parents[2] / "nxflow" / "nxflow"))
needs_nxflow = pytest.mark.skipif(not NXFLOW.is_file(), reason="nxflow is not built beside the module")
pytestmark = pytest.mark.skipif(
    not any((Path(d) / "libnxexamples.so").is_file() for d in nx.graph.default_package_dirs()),
    reason="the example package (target nxexamples) is not built")

# The modules the documents name, in one folder for the whole file: a module
# name belongs to one file in a process.
MODULES = {
    "pcgain": '''
import numpy as np
import nxruntime

seen = []  # (component name, event) of the Probe components

@nxruntime.component
class TPcGain:
    Gain = nxruntime.Property(1.0, min=0.0, max=100.0, description="the factor")
    Offset: float = 0.0
    Invert: bool = False

    def start(self, rate):
        self.rate = rate

    def process(self, x):
        assert not x.flags.writeable and not x.flags.owndata   # a view of the buffer's block
        y = self.Gain * x + self.Offset
        return -y if self.Invert else y


@nxruntime.component
class TPcSquare:
    def process(self, x, out):          # writes into the output it is given
        np.multiply(x, x, out=out)


@nxruntime.component
class TPcFaulty:
    FailAt: int = 5
    FailInStop: bool = False

    def start(self, rate):
        self.count = 0

    def process(self, x):
        self.count += 1
        if self.count == self.FailAt:
            raise RuntimeError(f"buffer {self.count} is one too many")
        return x

    def stop(self):
        if self.FailInStop:
            raise RuntimeError("not now")


@nxruntime.component
class TPcProbe:
    Label: str = ""

    def start(self, rate):
        seen.append((self.Label, "start"))

    def process(self, x):
        return x

    def stop(self):
        seen.append((self.Label, "stop"))
''',
}

CHAIN = """<?xml version="1.0" encoding="UTF-8"?>
<NXGraph Version="1" Packages="nxexamples, {modules}" Seconds="1">
  <TNXGroup Name="G">
    <_Components>
      <TNXSineGenerator Name="Tone" SampleRate="{rate}" BufferSize="{size}" Frequency="440" Amplitude="0.8"/>
      {components}
      <TNXCsvWriter Name="In" FileName="in.csv"/>
      <TNXCsvWriter Name="Out" FileName="out.csv"/>
    </_Components>
  </TNXGroup>
  <Links>
    <Link From="Tone" FromPin="OutputPin" To="In" ToPin="InputPin"/>
    {links}
  </Links>
</NXGraph>
"""


def chain(folder, components, *, modules="pcgain", rate=48000, size=1024, threaded=()):
    """A document: Tone -> components... -> Out, with the tone also recorded
    as In; components is [(class, name, {property: text})]."""
    made, links, previous = [], [], "Tone"
    for cls, name, props in components:
        attrs = " ".join(f'{k}="{v}"' for k, v in props.items())
        worker = '<Threading><TNXThreading Enabled="true"/></Threading>' if name in threaded else ""
        made.append(f'<{cls} Name="{name}" {attrs}>{worker}</{cls}>')
        links.append(f'<Link From="{previous}" FromPin="OutputPin" To="{name}" ToPin="InputPin"/>')
        previous = name
    links.append(f'<Link From="{previous}" FromPin="OutputPin" To="Out" ToPin="InputPin"/>')
    path = folder / f"doc{len(list(folder.glob('doc*.xml')))}.xml"
    path.write_text(CHAIN.format(modules=modules, rate=rate, size=size, components="\n".join(made),
                                 links="\n".join(links)))
    return path


@pytest.fixture(scope="module")
def modules(tmp_path_factory):
    folder = tmp_path_factory.mktemp("modules")
    for name, text in MODULES.items():
        (folder / f"{name}.py").write_text(text)
    return folder


@pytest.fixture
def watchdog():
    faulthandler.dump_traceback_later(240, exit=True)  # a hang ends the run with every thread's stack
    yield
    faulthandler.cancel_dump_traceback_later()


def tone(n, rate=48000, f=440, amplitude=0.8):
    return amplitude * np.sin(2 * np.pi * f * np.arange(n) / rate)


@pytest.mark.parametrize("components, settings, expected", [
    ([("TPcGain", "Gain", {"Gain": "2.5"})], {}, lambda x: 2.5 * x),
    ([("TPcGain", "Gain", {})], {"Gain.Gain": 3.0, "Gain.Offset": 0.25, "Gain.Invert": True},
     lambda x: -(3.0 * x + 0.25)),
    ([("TPcSquare", "Square", {})], {}, lambda x: x * x),
    ([("TPcGain", "A", {"Gain": "2"}), ("TNXGain", "B", {"Gain": "0.5"}), ("TPcSquare", "C", {})], {},
     lambda x: (2 * x * 0.5) ** 2),
])
def test_python_components_send_what_numpy_computes(modules, watchdog, components, settings, expected):
    g = nx.Graph.load(chain(modules, components), packages=[modules])
    for path, value in settings.items():
        component, prop = path.split(".")
        setattr(g[component], prop, value)
    got = g.run(seconds=1)
    assert got["In"].size == 46 * 1024
    np.testing.assert_allclose(got["In"], tone(got["In"].size), atol=1e-9)
    np.testing.assert_array_equal(got["Out"], expected(got["In"]))


def test_graph_add_and_link_make_python_components(modules, watchdog):
    # The document names the module: loading it registers the classes.
    g = nx.Graph.load(chain(modules, [("TNXGain", "Gain", {})]), packages=[modules])
    g.add("TPcGain", "Louder").Gain = 4
    g.add("TPcSquare", "Square")
    g.add("TNXCsvWriter", "Squared").FileName = "squared.csv"
    g.link("Gain", "OutputPin", "Louder", "InputPin")
    g.link("Louder", "OutputPin", "Square", "InputPin")
    g.link("Square", "OutputPin", "Squared", "InputPin")
    got = g.run(seconds=0.5)
    np.testing.assert_array_equal(got["Squared"], (4 * got["In"]) ** 2)


def test_published_properties_keep_the_library_checks(modules, tmp_path):
    g = nx.Graph.load(chain(modules, [("TPcGain", "Gain", {"Gain": "2"})]), packages=[modules])
    gain = g["Gain"]
    assert gain.class_name == "TPcGain"
    assert gain.properties[-3:] == ["Gain", "Offset", "Invert"]
    assert (gain.Gain, gain.Offset, gain.Invert) == (2.0, 0.0, False)
    refused = [("Gain", 1000, ValueError, "value 1000 of Gain is out of range (maximum 100)"),
               ("Gain", -1.0, ValueError, "out of range (minimum 0)"),
               ("Gain", "loud", ValueError, "loud"),
               ("Gain", float("nan"), ValueError, "not a finite number"),
               ("Gainn", 1.0, AttributeError, 'did you mean "Gain"')]
    for name, value, error, text in refused:
        with pytest.raises(error) as caught:
            setattr(gain, name, value)
        assert text in str(caught.value)
    gain.Offset = 0.5
    g.save(tmp_path / "saved.xml")
    assert 'Gain="2" Offset="0.5"' in (tmp_path / "saved.xml").read_text()


def test_worker_threads_pass_ten_thousand_buffers(modules, watchdog):
    # 48-sample buffers at 48 kHz: 10 s are 10,000 buffers, through three
    # filters on worker threads of their own, two of them Python components.
    doc = chain(modules, [("TPcGain", "A", {"Gain": "2"}), ("TNXGain", "B", {"Gain": "0.5"}),
                          ("TPcGain", "C", {"Gain": "3", "Offset": "1"})],
                size=48, threaded=("A", "B", "C"))
    g = nx.Graph.load(doc, packages=[modules])
    # A Python thread keeps asking for the GIL all the while.
    done, spins = threading.Event(), []
    def spin():
        while not done.is_set():
            spins.append(float(np.sum(np.arange(64.0))))
    busy = threading.Thread(target=spin)
    busy.start()
    try:
        got = g.run(seconds=10)
    finally:
        done.set()
        busy.join()
    assert spins
    assert got["Out"].size == got["In"].size == 10_000 * 48
    np.testing.assert_array_equal(got["Out"], 3 * (2 * got["In"] * 0.5) + 1)


def test_an_exception_in_process_ends_the_run_with_its_traceback(modules, watchdog):
    doc = chain(modules, [("TPcProbe", "Before", {"Label": "before"}), ("TPcFaulty", "Bad", {}),
                          ("TPcProbe", "After", {"Label": "after"})], threaded=("After",))
    g = nx.Graph.load(doc, packages=[modules])
    import pcgain  # the document imported it from the package search path
    pcgain.seen.clear()
    with pytest.raises(ValueError) as caught:
        g.run(seconds=5)
    message = str(caught.value)
    assert "Bad (TPcFaulty): process raised an exception" in message
    assert "Traceback (most recent call last)" in message
    assert 'pcgain.py", line' in message and "in process" in message
    assert "RuntimeError: buffer 5 is one too many" in message
    # Every other component's stream stopped; the graph runs again afterwards.
    assert sorted(pcgain.seen) == [("after", "start"), ("after", "stop"), ("before", "start"), ("before", "stop")]
    g["Bad"].FailAt = 0
    g["Bad"].FailInStop = True  # raised as the stream stops, after its last buffer
    with pytest.raises(ValueError, match=r"Bad \(TPcFaulty\): stop raised an exception"):
        g.run(seconds=0.5)
    g["Bad"].FailInStop = False
    assert g.run(seconds=0.5)["Out"].size == 23 * 1024


@pytest.mark.parametrize("packages, where, message", [
    ("pcgain", "elsewhere", 'Package "pcgain" not found'),     # not on the search path, though in the current folder
    ("{modules}/pcgain.py", "search", "is not a bare package name"),
    ("sub/pcgain", "search", "is not a bare package name"),
    ("..pcgain", "search", "is not a bare package name"),
    ("mods.pcgain", "search", 'Package "mods.pcgain" not found'),  # never mods/pcgain.py nor mods.pcgain.py
])
def test_modules_are_found_by_bare_name_on_the_search_path_only(modules, tmp_path, monkeypatch, packages, where,
                                                                 message):
    (tmp_path / "mods").mkdir()
    for target in (tmp_path / "pcgain.py", tmp_path / "mods" / "pcgain.py", tmp_path / "mods.pcgain.py"):
        target.write_text("raise SystemExit('imported from outside the search path')\n")
    monkeypatch.chdir(tmp_path)
    doc = chain(tmp_path, [("TNXGain", "Gain", {})], modules=packages.format(modules=tmp_path))
    search = [tmp_path / "empty"] if where == "elsewhere" else [tmp_path]
    with pytest.raises(ValueError) as caught:
        nx.Graph.load(doc, packages=search)
    assert message in str(caught.value)


@needs_nxflow
def test_nxflow_runs_a_document_with_a_python_component(modules, tmp_path):
    doc = chain(modules, [("TPcGain", "Gain", {"Gain": "2"}), ("TPcSquare", "Square", {})], size=480)
    run = subprocess.run([str(NXFLOW), "--packages", str(modules), "run", str(doc), "--out", str(tmp_path / "out"),
                          "--set", "Gain.Offset=0.5"], capture_output=True, text=True, timeout=300, cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    read = [np.loadtxt(tmp_path / "out" / f, delimiter=",", skiprows=1)[:, 1] for f in ("in.csv", "out.csv")]
    np.testing.assert_allclose(read[1], (2 * read[0] + 0.5) ** 2, rtol=1e-12)

    # A fault in a buffer, and one as the stream stops (after the last
    # buffer, when the run has stopped looking): each fails the run.
    for props, said in (({"FailAt": "3"}, "process raised an exception, its stream stopped:"),
                        ({"FailAt": "0", "FailInStop": "true"}, "stop raised an exception, its stream stopped:")):
        faulty = chain(modules, [("TPcFaulty", "Bad", props)])
        run = subprocess.run([str(NXFLOW), "--packages", str(modules), "run", str(faulty), "--out", str(tmp_path / "f")],
                             capture_output=True, text=True, timeout=300, cwd=tmp_path)
        assert run.returncode == 1, run.stdout
        assert said in run.stderr and "Traceback" in run.stderr, run.stderr
        assert not (tmp_path / "f").exists()
