"""The module's surface: names, signatures, documentation, argument matching, argument
reading, element-type identification and the order in which failures are reported."""

import inspect
import pathlib
import shutil
import subprocess
import sys
import ast

import numpy as np
import pytest

import _tarnwell
from _tarnwell import cast_array, cast_array_into

MODES = dict(rounding_mode="nearest-even")
TYPES = ["int8", "int16", "int32", "int64", "uint8", "uint16", "uint32", "uint64", "float16", "float32", "float64"]

CAST_ARRAY_SIGNATURE = "(arr, *, target_dtype, rounding_mode, out_of_range_mode=None, scalar_map_entries=None)"
CAST_ARRAY_INTO_SIGNATURE = "(arr, out, *, rounding_mode, out_of_range_mode=None, scalar_map_entries=None)"


def test_module_exports_the_two_functions_in_order():
    assert _tarnwell.__all__ == ["cast_array", "cast_array_into"]
    for function in (cast_array, cast_array_into):
        assert type(function).__name__ == "builtin_function_or_method"
        assert function.__module__ == "_tarnwell"
        assert function.__self__ is _tarnwell


@pytest.mark.skipif(shutil.which("nm") is None, reason="nm is not installed")
def test_initialisation_function_is_the_only_exported_symbol():
    listing = subprocess.run(["nm", "-D", "--defined-only", _tarnwell.__file__], capture_output=True, text=True,
                             check=True).stdout
    assert [line.split()[-1] for line in listing.splitlines()] == ["PyInit__tarnwell"]


def test_reinitialisation_returns_the_same_module():
    code = "import sys, _tarnwell as a; del sys.modules['_tarnwell']; import _tarnwell as b; print(a is b)"
    assert subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout == "True\n"


@pytest.mark.parametrize("function, signature", [(cast_array, CAST_ARRAY_SIGNATURE),
                                                 (cast_array_into, CAST_ARRAY_INTO_SIGNATURE)])
def test_signature_is_introspectable(function, signature):
    assert str(inspect.signature(function)) == signature


def test_type_stub_declares_the_same_parameters():
    stub = pathlib.Path(_tarnwell.__file__).with_name("_tarnwell.pyi")
    tree = ast.parse(stub.read_text())
    declared = {node.name: node.args for node in tree.body if isinstance(node, ast.FunctionDef)}
    assert sorted(declared) == ["cast_array", "cast_array_into"]
    for name, args in declared.items():
        actual = inspect.signature(getattr(_tarnwell, name)).parameters.values()
        positional = [a.arg for a in args.args]
        keyword_only = [a.arg for a in args.kwonlyargs]
        assert positional == [p.name for p in actual if p.kind is p.POSITIONAL_OR_KEYWORD]
        assert keyword_only == [p.name for p in actual if p.kind is p.KEYWORD_ONLY]
        # A required keyword has no default in the stub; an optional one defaults to None.
        stub_defaults = ["required" if d is None else ast.literal_eval(d) for d in args.kw_defaults]
        assert stub_defaults == ["required" if p.default is p.empty else p.default
                                 for p in actual if p.kind is p.KEYWORD_ONLY]


@pytest.mark.parametrize("function, summary, parameters, returns", [
    (cast_array, "Cast a numpy array to a new dtype, allocating a new output array.",
     ["arr", "target_dtype", "rounding_mode", "out_of_range_mode", "scalar_map_entries"],
     "A new numpy array with the target dtype."),
    (cast_array_into, "Cast a numpy array into a pre-allocated output array.",
     ["arr", "out", "rounding_mode", "out_of_range_mode", "scalar_map_entries"], "None on success."),
])
def test_docstring_layout(function, summary, parameters, returns):
    descriptions = {
        "arr": "Input numpy array",
        "out": "Pre-allocated output numpy array (must match input shape)",
        "target_dtype": 'Target dtype string (e.g. "uint8", "float32")',
        "rounding_mode": 'Rounding mode string (e.g. "nearest-even")',
        "out_of_range_mode": 'Optional out-of-range handling ("clamp" or "wrap")',
        "scalar_map_entries": "Optional list of [source, target] pairs",
    }
    lines = function.__doc__.split("\n")
    # The interpreter keeps the signature lines out of __doc__ and in __text_signature__.
    assert function.__text_signature__ == str(inspect.signature(function))
    assert lines[:4] == [summary, "", "# Arguments", ""]
    assert lines[4:9] == [f"* `{name}` - {descriptions[name]}" for name in parameters]
    assert lines[9:16] == ["", "# Returns", "", returns, "", "# Errors", ""]
    closing = " ".join(lines[16:])
    assert len(lines) == 18 and "ValueError" in closing and "TypeError" in closing
    assert not function.__doc__.endswith("\n")


A = np.arange(6, dtype=np.int16).reshape(2, 3)
B = np.zeros((2, 3), dtype=np.uint8)


@pytest.mark.parametrize("call, message", [
    (lambda: cast_array(), "cast_array() missing 1 required positional argument: 'arr'"),
    (lambda: cast_array(A), "cast_array() missing 2 required keyword arguments: 'target_dtype' and 'rounding_mode'"),
    (lambda: cast_array(A, target_dtype="uint8"), "cast_array() missing 1 required keyword argument: 'rounding_mode'"),
    (lambda: cast_array(A, "uint8", "nearest-even"), "cast_array() takes 1 positional arguments but 3 were given"),
    (lambda: cast_array_into(A, B, "nearest-even"), "cast_array_into() takes 2 positional arguments but 3 were given"),
    (lambda: cast_array(A, arr=A, target_dtype="uint8", **MODES), "cast_array() got multiple values for argument 'arr'"),
    (lambda: cast_array_into(A, B, out=B, **MODES), "cast_array_into() got multiple values for argument 'out'"),
    (lambda: cast_array(A, target_dtype="uint8", out_of_range="clamp", **MODES),
     "cast_array() got an unexpected keyword argument 'out_of_range'"),
    (lambda: cast_array(A, **{"ta\u0308rget": 1}), "cast_array() got an unexpected keyword argument 'ta\u0308rget'"),
    (lambda: cast_array(A, **{"\udc80": 1}), "cast_array() got an unexpected keyword argument '\udc80'"),
    (lambda: cast_array_into(), "cast_array_into() missing 2 required positional arguments: 'arr' and 'out'"),
    (lambda: cast_array_into(A, rounding_mode="x"), "cast_array_into() missing 1 required positional argument: 'out'"),
    (lambda: cast_array_into(A, B), "cast_array_into() missing 1 required keyword argument: 'rounding_mode'"),
])
def test_argument_matching_errors(call, message):
    with pytest.raises(TypeError) as error:
        call()
    assert str(error.value) == message


def test_every_parameter_may_be_passed_by_keyword():
    result = cast_array(arr=A, target_dtype="uint8", rounding_mode="towards-zero", out_of_range_mode=None,
                        scalar_map_entries=None)
    assert result.dtype == np.uint8 and result.tolist() == A.tolist()
    out = np.zeros_like(B)
    assert cast_array_into(out=out, arr=A, rounding_mode="nearest-even") is None
    assert out.tolist() == A.tolist()


class Text(str):
    pass


@pytest.mark.parametrize("kwargs, error, message", [
    (dict(arr=[1, 2]), TypeError, "argument 'arr': 'list' object cannot be converted to 'ndarray'"),
    (dict(arr=np.float64(1.0)), TypeError, "argument 'arr': 'float64' object cannot be converted to 'ndarray'"),
    (dict(target_dtype=np.uint8), TypeError, "argument 'target_dtype': 'type' object cannot be converted to 'str'"),
    (dict(target_dtype=np.dtype("uint8")), TypeError,
     f"argument 'target_dtype': '{type(np.dtype('uint8')).__qualname__}' object cannot be converted to 'str'"),
    (dict(rounding_mode=None), TypeError, "argument 'rounding_mode': 'NoneType' object cannot be converted to 'str'"),
    (dict(rounding_mode=b"nearest-even"), TypeError, "argument 'rounding_mode': 'bytes' object cannot be converted to 'str'"),
    (dict(rounding_mode="Nearest-Even"), ValueError, "Unknown rounding mode: Nearest-Even"),
    (dict(rounding_mode=""), ValueError, "Unknown rounding mode: "),
    (dict(rounding_mode="nearest-even\0"), ValueError, "Unknown rounding mode: nearest-even\0"),
    (dict(out_of_range_mode=1), TypeError, "argument 'out_of_range_mode': 'int' object cannot be converted to 'str'"),
    (dict(out_of_range_mode="saturate"), ValueError, "Unknown out_of_range mode: saturate"),
    (dict(out_of_range_mode="clamp "), ValueError, "Unknown out_of_range mode: clamp "),
    (dict(out_of_range_mode="Clamp"), ValueError, "Unknown out_of_range mode: Clamp"),
])
def test_argument_reading_errors(kwargs, error, message):
    call = dict(arr=A, target_dtype="uint8", **MODES)
    call.update(kwargs)
    with pytest.raises(error) as raised:
        cast_array(**call)
    assert type(raised.value) is error and str(raised.value) == message


def test_array_subclasses_and_text_subclasses_are_accepted():
    class Sub(np.ndarray):
        pass

    result = cast_array(A.view(Sub), target_dtype=Text("int32"), rounding_mode=Text("towards-zero"),
                        out_of_range_mode=Text("wrap"))
    assert type(result) is np.ndarray and result.dtype == np.int32 and result.tolist() == A.tolist()


def test_none_policy_behaves_like_no_policy():
    data = np.array([1, 300], dtype=np.int16)
    for extra in ({}, {"out_of_range_mode": None}):
        with pytest.raises(ValueError, match=r"^Value 300 out of range \[0, 255\]\. Set out_of_range='clamp'"):
            cast_array(data, target_dtype="uint8", **MODES, **extra)


def test_text_that_cannot_be_encoded_raises_the_encoding_error_unchanged():
    for kwargs in (dict(target_dtype="\udc80"), dict(rounding_mode="\udc80"), dict(out_of_range_mode="\udc80")):
        call = dict(arr=A, target_dtype="uint8", **MODES)
        call.update(kwargs)
        with pytest.raises(UnicodeEncodeError):
            cast_array(**call)


@pytest.mark.parametrize("call, error, message", [
    # every argument wrong: the earliest parameter is reported
    (lambda: cast_array([1], target_dtype=1, rounding_mode=1), TypeError, "argument 'arr': "),
    (lambda: cast_array(A, target_dtype=1, rounding_mode=1), TypeError, "argument 'target_dtype': "),
    (lambda: cast_array(A, target_dtype="x", rounding_mode=1, out_of_range_mode=1), TypeError,
     "argument 'rounding_mode': "),
    (lambda: cast_array(A, target_dtype="x", rounding_mode="x", out_of_range_mode="x"), ValueError,
     "Unknown rounding mode: x"),
    (lambda: cast_array(A, target_dtype="x", out_of_range_mode="x", **MODES), ValueError,
     "Unknown out_of_range mode: x"),
    (lambda: cast_array_into(A, [1], rounding_mode=1), TypeError, "argument 'out': "),
    (lambda: cast_array_into(A, B, rounding_mode=1, out_of_range_mode=1), TypeError, "argument 'rounding_mode': "),
    # modes before element types, element types before everything the drivers check
    (lambda: cast_array(np.zeros(2, bool), target_dtype="uint8", rounding_mode="x"), ValueError,
     "Unknown rounding mode: x"),
    (lambda: cast_array(np.zeros(2, bool), target_dtype="float", **MODES), TypeError, "Unsupported numpy dtype: bool"),
    (lambda: cast_array(A.T, target_dtype="float", **MODES), TypeError, "Unsupported target dtype: float"),
    (lambda: cast_array_into(np.zeros(2, bool), np.zeros(3, complex), **MODES), TypeError,
     "Unsupported numpy dtype: bool"),
    (lambda: cast_array_into(A, np.zeros(3, complex), **MODES), TypeError, "Unsupported numpy dtype: complex128"),
    (lambda: cast_array_into(A.T, np.zeros(3, np.uint8), **MODES), ValueError,
     "Shape mismatch: input shape [3, 2] != output shape [3]"),
    (lambda: cast_array(A.T, target_dtype="uint8", scalar_map_entries=5, **MODES), ValueError,
     "Input array must be row-major (C-contiguous)"),
    (lambda: cast_array(A.astype(">i2"), target_dtype="uint8", scalar_map_entries=5, **MODES), TypeError,
     "'ndarray' object cannot be converted to 'native-byte-order ndarray'"),
    (lambda: cast_array_into(A, B.astype(">u2"), scalar_map_entries=5, **MODES), TypeError,
     "scalar_map_entries must be a dict"),
    (lambda: cast_array_into(A, B.astype(">u2"), **MODES), TypeError,
     "'ndarray' object cannot be converted to 'native-byte-order ndarray'"),
    (lambda: cast_array_into(A, B.T.copy().T, scalar_map_entries={1: 300}, **MODES), TypeError,
     "scalar_map target value 300"),
    (lambda: cast_array_into(A, B.T.copy().T, **MODES), ValueError,
     "Output array must be row-major (C-contiguous) and writeable"),
])
def test_order_of_checks(call, error, message):
    with pytest.raises(error) as raised:
        call()
    assert type(raised.value) is error and str(raised.value).startswith(message)


def test_shape_mismatch_prints_shapes_as_lists():
    cases = [((2, 3), (6,), "[2, 3]", "[6]"), ((1, 3), (3,), "[1, 3]", "[3]"), ((), (1,), "[]", "[1]")]
    for in_shape, out_shape, in_text, out_text in cases:
        with pytest.raises(ValueError) as raised:
            cast_array_into(np.zeros(in_shape, np.int8), np.zeros(out_shape, np.int8), **MODES)
        assert str(raised.value) == f"Shape mismatch: input shape {in_text} != output shape {out_text}"


@pytest.mark.parametrize("dtype", [np.bool_, np.complex64, np.complex128, np.longdouble, object, "U3", "S3",
                                   "V4", [("a", "i4")], "datetime64[s]", "timedelta64[s]"])
def test_unsupported_element_types_are_named(dtype):
    array = np.zeros(2, dtype=dtype)
    for call in (lambda: cast_array(array, target_dtype="int8", **MODES),
                 lambda: cast_array_into(array, np.zeros(2, np.int8), **MODES),
                 lambda: cast_array_into(np.zeros(2, np.int8), array, **MODES)):
        with pytest.raises(TypeError) as raised:
            call()
        assert str(raised.value) == f"Unsupported numpy dtype: {array.dtype.name}"


def test_array_subclass_dtype_attribute_is_trusted_only_for_the_name():
    class NoDtype(np.ndarray):
        @property
        def dtype(self):
            raise RuntimeError("no dtype")

    class Lying(np.ndarray):
        dtype = np.dtype("int16")

    with pytest.raises(RuntimeError, match="no dtype"):
        cast_array(A.view(NoDtype), target_dtype="int8", **MODES)
    with pytest.raises(TypeError) as raised:
        cast_array(np.zeros(3, np.float64).view(Lying), target_dtype="int8", **MODES)
    assert str(raised.value) == f"'{Lying.__qualname__}' object cannot be converted to 'native-byte-order ndarray'"


@pytest.mark.parametrize("alias, name", [
    (np.byte, "int8"), (np.short, "int16"), (np.intc, "int32"), (np.int_, "int64"), (np.longlong, "int64"),
    (np.intp, "int64"), (np.ubyte, "uint8"), (np.ushort, "uint16"), (np.uintc, "uint32"), (np.ulonglong, "uint64"),
    (np.uintp, "uint64"), (np.half, "float16"), (np.single, "float32"), (np.double, "float64"),
])
def test_platform_aliases_are_identified_by_their_sized_name(alias, name):
    array = np.ones(3, dtype=alias)
    assert array.dtype.name == name
    assert cast_array(array, target_dtype=name, **MODES).tolist() == array.tolist()
    out = np.zeros(3, dtype=alias)
    cast_array_into(np.ones(3, np.int8), out, **MODES)
    assert out.tolist() == [1, 1, 1]


@pytest.mark.parametrize("target", ["float", "INT8", "f4", "i1", "uint8 ", "", "int8\0"])
def test_only_canonical_target_names_are_accepted(target):
    with pytest.raises(TypeError) as raised:
        cast_array(A, target_dtype=target, **MODES)
    assert str(raised.value) == "Unsupported target dtype: " + target


@pytest.mark.parametrize("source", TYPES)
@pytest.mark.parametrize("target", TYPES)
def test_every_pair_reaches_its_driver(source, target):
    data = np.array([[0, 1], [2, 3]], dtype=source)
    result = cast_array(data, target_dtype=target, **MODES)
    assert result.dtype == np.dtype(target) and result.shape == (2, 2) and result.flags.c_contiguous
    assert result.tolist() == [[0, 1], [2, 3]]
    out = np.full((2, 2), 7, dtype=target)
    assert cast_array_into(data, out, **MODES) is None
    assert out.tolist() == [[0, 1], [2, 3]]


def test_unavailable_numpy_is_an_internal_failure_outside_exception():
    code = "\n".join([
        "import sys",
        "sys.modules['numpy'] = None",
        "import _tarnwell",
        "try:",
        "    _tarnwell.cast_array([1], target_dtype='int8', rounding_mode='nearest-even')",
        "except Exception as e:",
        "    print('Exception', type(e))",
        "except BaseException as e:",
        "    print(type(e).__module__, type(e).__name__, type(e).__bases__ == (BaseException,))",
        "    print(e)",
    ])
    lines = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout.splitlines()
    assert lines[0] == "_tarnwell InternalFailure True"
    assert lines[1].startswith("NumPy's C interface could not be obtained: ")
