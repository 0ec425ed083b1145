"""nxruntime.Graph against the nxflow program: the same samples from a run,
the same messages for bad values and documents, and a document saved as
`nxflow set` saves it."""
import subprocess
import threading
from pathlib import Path

import numpy as np
import pytest

import nxruntime as nx

ROOT = Path(__file__).resolve().parents[2]
NXFLOW = Path(nx.__file__).resolve().parents[2] / "nxflow" / "nxflow"

needs_nxflow = pytest.mark.skipif(not NXFLOW.is_file(), reason="nxflow is not built beside the module")
# Every graph here is made of the example package's components.
pytestmark = pytest.mark.skipif(
    not any((Path(d) / "libnxexamples.so").is_file() for d in nx.graph.default_package_dirs()),
    reason="the example package (target nxexamples) is not built")

GRAPH = """<?xml version="1.0" encoding="UTF-8"?>
<NXGraph Version="1" Packages="nxexamples" Seconds="0.5">
  <TNXGroup Name="Chain">
    <_Components>
      <TNXSineGenerator Name="Tone" SampleRate="8000" BufferSize="100" Frequency="440" Amplitude="0.8"/>
      <TNXGain Name="Gain" Gain="0.5"/>
      <TNXFirFilter Name="LowPass" Order="32" LowFrequency="300"/>
      <TNXCsvWriter Name="Raw" FileName="raw.csv"/>
      <TNXCsvWriter Name="Filtered" FileName="filtered.csv"/>
    </_Components>
  </TNXGroup>
  <Links>
    <Link From="Tone" FromPin="OutputPin" To="Gain" ToPin="InputPin"/>
    <Link From="Gain" FromPin="OutputPin" To="Raw" ToPin="InputPin"/>
    <Link From="Gain" FromPin="OutputPin" To="LowPass" ToPin="InputPin"/>
    <Link From="LowPass" FromPin="OutputPin" To="Filtered" ToPin="InputPin"/>
  </Links>
</NXGraph>
"""


@pytest.fixture
def doc(tmp_path):
    path = tmp_path / "chain.xml"
    path.write_text(GRAPH)
    return path


def nxflow(*args, cwd=None):
    return subprocess.run([str(NXFLOW), *map(str, args)], capture_output=True, text=True, cwd=cwd, timeout=300)


def csv_samples(path):
    rows = np.loadtxt(path, delimiter=",", skiprows=1, ndmin=2)
    assert np.array_equal(rows[:, 0], np.arange(len(rows)))
    return rows[:, 1]


@needs_nxflow
def test_run_gives_what_nxflow_writes(doc, tmp_path, monkeypatch):
    g = nx.Graph.load(doc)
    g["Gain"].Gain = 0.25
    monkeypatch.setenv("TMPDIR", str(tmp_path))
    got = g.run(seconds=1)
    assert sorted(got) == ["Filtered", "Raw"]
    assert not list(tmp_path.glob("nxruntime-run-*"))  # the run's folder is gone

    kept = tmp_path / "kept"
    again = g.run(seconds=1, out=kept)
    assert nxflow("run", doc, "--seconds", 1, "--set", "Gain.Gain=0.25", "--out", tmp_path / "cli").returncode == 0
    for sink, name in [("Raw", "raw.csv"), ("Filtered", "filtered.csv")]:
        expected = csv_samples(tmp_path / "cli" / name)
        assert got[sink].dtype == np.float64 and len(got[sink]) == 8000
        assert np.array_equal(got[sink], expected)
        assert np.array_equal(again[sink], expected)
        assert np.array_equal(csv_samples(kept / name), expected)
    assert np.max(np.abs(got["Raw"])) == pytest.approx(0.2, rel=1e-6)


def test_run_length_from_document_and_argument(doc):
    g = nx.Graph.load(doc)
    assert len(g.run()["Raw"]) == 4000  # Seconds="0.5"
    g["Tone"].BufferSize = 400
    assert len(g.run(seconds=0.25)["Raw"]) == 2000
    with pytest.raises(ValueError, match="positive"):
        g.run(seconds=0)


@pytest.mark.parametrize("path, prop, value, expected", [
    ("LowPass", "Order", 256, 256),
    ("LowPass", "LowFrequency", 1234.5678, 1234.5678),
    ("LowPass", "Window", "wtKaiser", "wtKaiser"),
    ("LowPass", "Enabled", False, False),
    ("Raw", "FileName", "other.csv", "other.csv"),
    ("Tone", "SampleRate", 16000, 16000.0),
    ("Chain.Gain", "Gain", 3, 3.0),
])
def test_property_reads_back_typed(doc, path, prop, value, expected):
    g = nx.Graph.load(doc)
    setattr(g[path], prop, value)
    got = getattr(g[path], prop)
    assert got == expected and type(got) is type(expected)


@needs_nxflow
@pytest.mark.parametrize("path, prop, value, exc", [
    ("LowPass", "Order", "many", ValueError),
    ("LowPass", "Order", -3, ValueError),
    ("LowPass", "Window", "wtNone", ValueError),
    ("LowPass", "Enabled", "maybe", ValueError),
    ("Tone", "Frequency", float("nan"), ValueError),
    ("LowPass", "Ordr", 3, AttributeError),
])
def test_bad_value_has_the_message_of_nxflow_set(doc, path, prop, value, exc):
    g = nx.Graph.load(doc)
    before = doc.read_bytes()
    with pytest.raises(exc) as raised:
        setattr(g[path], prop, value)
    text = nx.graph._as_text(value)
    cli = nxflow("set", doc, f"{path}.{prop}={text}")
    assert cli.returncode == 1 and doc.read_bytes() == before
    assert cli.stderr == f"nxflow: {raised.value.args[0]}\n"


def test_components_properties_and_lookup(doc):
    g = nx.Graph.load(doc)
    assert g.name == "Chain"
    assert g.components == ["Tone", "Gain", "LowPass", "Raw", "Filtered"]
    assert g["LowPass"].class_name == "TNXFirFilter"
    assert g["LowPass"].properties[:2] == ["Name", "Tag"] and "Window" in g["LowPass"].properties
    assert g["LowPass"].Threading.class_name == "TNXThreading"
    assert "Gain" in g and "Gian" not in g
    with pytest.raises(KeyError, match="did you mean"):
        g["Gian"]
    with pytest.raises(AttributeError, match='has no property "Volume"'):
        g["Gain"].Volume


@needs_nxflow
def test_save_writes_what_nxflow_set_writes(doc, tmp_path):
    g = nx.Graph.load(doc)
    g["LowPass"].Order = 48
    g["Raw"].FileName = "gain.csv"
    saved = tmp_path / "saved.xml"
    g.save(saved)
    assert nxflow("set", doc, "LowPass.Order=48", "Raw.FileName=gain.csv").returncode == 0
    assert saved.read_bytes() == doc.read_bytes()
    assert 'Packages="nxexamples"' in saved.read_text() and 'Seconds="0.5"' in saved.read_text()

    back = nx.Graph.load(saved)
    assert (back["LowPass"].Order, back["Raw"].FileName) == (48, "gain.csv")
    back["LowPass"].Order = 16
    back.save()
    assert nx.Graph.load(saved)["LowPass"].Order == 16


@needs_nxflow
@pytest.mark.parametrize("name, text", [
    ("broken.xml", GRAPH.replace("</Links>", "")),
    ("unknown-class.xml", GRAPH.replace("TNXGain", "TNXGian")),
    ("unknown-pin.xml", GRAPH.replace('ToPin="InputPin"/>\n    <Link From="Gain" FromPin="OutputPin" To="Raw"',
                                      'ToPin="Input"/>\n    <Link From="Gain" FromPin="OutputPin" To="Raw"')),
    ("no-package.xml", GRAPH.replace('Packages="nxexamples"', 'Packages="nxexamples, nosuch"')),
    ("bad-seconds.xml", GRAPH.replace('Seconds="0.5"', 'Seconds="soon"')),
])
def test_bad_document_has_the_message_of_nxflow(tmp_path, name, text):
    path = tmp_path / name
    path.write_text(text)
    with pytest.raises(ValueError) as raised:
        nx.Graph.load(path, packages=[NXFLOW.parents[1] / "packages"])
    cli = nxflow("--packages", NXFLOW.parents[1] / "packages", "check", path)
    assert cli.returncode == 1
    # A package not found names the folders searched: the module's differ.
    message = raised.value.args[0].split(" (searched ")[0]
    assert cli.stderr.split(" (searched ")[0] == f"nxflow: {message}" + ("" if "searched" in cli.stderr else "\n")


def test_missing_document(tmp_path):
    with pytest.raises(ValueError, match="nothing.xml"):
        nx.Graph.load(tmp_path / "nothing.xml")


def test_bundled_graph_runs(tmp_path):
    g = nx.Graph.load(ROOT / "examples" / "graphs" / "filter-demo.xml")
    assert "LowPass" in g.components
    got = g.run(seconds=0.5, out=tmp_path)
    scopes = {k: v for k, v in got.items() if k.endswith("Scope")}
    assert sorted(scopes) == ["BandPassScope", "LowPassScope", "MixScope"]
    assert all(len(v) >= 0.4 * 48000 for v in scopes.values())
    # The low-pass keeps the 440 Hz tone and removes the 7 kHz one.
    spectrum = np.abs(np.fft.rfft(scopes["LowPassScope"][4096:4096 + 16384]))
    freqs = np.fft.rfftfreq(16384, 1 / 48000)
    assert spectrum[np.argmin(abs(freqs - 440))] > 100 * spectrum[np.argmin(abs(freqs - 7000))]
    assert (tmp_path / "lowpass-scope.png").is_file()


@needs_nxflow
def test_built_graph_runs_as_nxflow_runs_its_saved_document(doc, tmp_path):
    g = nx.Graph.load(doc)
    g.add("TNXGain", "Double").Gain = 2
    g.add("TNXCsvWriter", "Doubled").FileName = "doubled.csv"
    g.link("LowPass", "OutputPin", "Double", "InputPin")
    g.link("Double", "OutputPin", "Doubled", "InputPin")
    assert g.components[-2:] == ["Double", "Doubled"]
    got = g.run()
    assert np.array_equal(got["Doubled"], 2 * got["Filtered"]) and len(got["Doubled"]) == 4000

    built = tmp_path / "built.xml"
    g.save(built)
    assert nxflow("run", built, "--out", tmp_path / "cli").returncode == 0
    assert np.array_equal(csv_samples(tmp_path / "cli" / "doubled.csv"), got["Doubled"])


@pytest.mark.parametrize("call, args, message", [
    ("add", ("TNXGain", "Gain"), "A component named Gain already exists"),
    ("add", ("TNXGain", "2nd"), "'2nd' is not a valid component name"),
    ("add", ("TNXGain", "Inner", "Raw.Nothing"), 'has no component or sub-object "Nothing"'),
    ("link", ("Nobody", "OutputPin", "Raw", "InputPin"), 'Link to a missing component "Nobody"'),
    ("link", ("Gain", "OutputPn", "Raw", "InputPin"), 'Link to a missing pin "Gain.OutputPn" (did you mean "OutputPin"?)'),
    ("link", ("Raw", "InputPin", "Gain", "InputPin"), "A link runs from a source pin to a sink pin"),
    ("link", ("LowPass", "OutputPin", "Gain", "InputPin"),
     "A cycle of links: LowPass -> Gain -> LowPass (a buffer sent round it would come back without end)"),
])
def test_refused_edit_leaves_the_graph_as_it_was(doc, tmp_path, call, args, message):
    g = nx.Graph.load(doc)
    with pytest.raises((ValueError, KeyError)) as raised:
        getattr(g, call)(*args)
    assert message in str(raised.value)
    g.save(tmp_path / "after.xml")
    nx.Graph.load(doc).save(tmp_path / "before.xml")
    assert (tmp_path / "after.xml").read_bytes() == (tmp_path / "before.xml").read_bytes()
    assert len(g.run(seconds=0.1)["Filtered"]) == 800


@needs_nxflow
def test_unknown_class_has_the_message_of_nxflow_describe(doc):
    with pytest.raises(ValueError) as raised:
        nx.Graph.load(doc).add("TNXGian", "Gain2")
    assert nxflow("describe", "TNXGian").stderr == f"nxflow: {raised.value.args[0]}\n"


def test_runs_from_threads_take_turns_and_agree(doc):
    expected = nx.Graph.load(doc).run(seconds=0.25)
    results = [None] * 4

    def work(i):
        g = nx.Graph.load(doc)
        g["Gain"].Gain = 0.5  # edits go on while another thread's graph runs
        results[i] = g.run(seconds=0.25)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(len(results))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for got in results:
        assert sorted(got) == sorted(expected)
        assert all(np.array_equal(got[k], expected[k]) for k in expected)
