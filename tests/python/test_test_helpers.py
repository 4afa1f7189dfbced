"""The module's test helpers: each runs one conversion on fixed data, so the
dictionaries, their key order and the element types are exactly known."""

import numpy as np

import vemlapy

TEST_METADATA = [("channel", 4), ("daq_scaling", 2.700000047683716),
                 ("duration", 12000450138), ("read_id", "Test read-id")]


def check_test_datasets(datasets):
    assert list(datasets) == ["raw_data", "sequence", "state_data"]
    raw = datasets["raw_data"]
    assert raw.dtype == np.int16 and raw.shape == (1000,)
    np.testing.assert_array_equal(raw, np.arange(1000, dtype=np.int16))
    assert datasets["sequence"] == "ACGTCGTGTT"
    states = datasets["state_data"]
    assert states.dtype == np.uint8 and states.shape == (100, 40)
    assert (states == 128).all()


def test_metadata_to_dict_keeps_key_order_and_widens_float32():
    result = vemlapy.test_metadata_to_dict()
    assert list(result.items()) == TEST_METADATA
    assert [type(v) for v in result.values()] == [int, float, int, str]


def test_datasets_come_in_id_order_whatever_the_insertion_order():
    check_test_datasets(vemlapy.test_datasets_to_dict())


def test_dict_to_readholder_stores_scaling_override_under_library_names():
    result = vemlapy.test_dict_to_readholder()
    assert list(result) == ["read_tag", "sub_tag", "priority", "metadata", "datasets"]
    assert result["read_tag"] == 4294967286
    assert result["sub_tag"] == 0
    assert result["priority"] == vemlapy.VemlaClient.medium_priority
    assert list(result["metadata"].items()) == [
        ("daq_offset", 1.5), ("daq_scaling", 2.5), ("read_id", "test_read"),
        ("scaling_override", True), ("scaling_override_med_abs_dev", 4.5),
        ("scaling_override_median", 3.5)]
    assert list(result["datasets"]) == ["raw_data"]
    raw = result["datasets"]["raw_data"]
    assert raw.dtype == np.int16
    np.testing.assert_array_equal(raw, np.arange(100))


def test_readholder_to_dict():
    result = vemlapy.test_readholder_to_dict()
    assert list(result) == ["read_tag", "sub_tag", "priority", "metadata", "datasets"]
    assert (result["read_tag"], result["sub_tag"]) == (4294967286, 0)
    assert result["priority"] == vemlapy.VemlaClient.medium_priority
    expected = dict(TEST_METADATA, daq_offset=1.7999999523162842)
    assert list(result["metadata"].items()) == sorted(expected.items())
    check_test_datasets(result["datasets"])


def test_returned_arrays_are_independent_copies():
    first = vemlapy.test_datasets_to_dict()
    first["raw_data"][:] = -1
    first["state_data"][:] = 0
    check_test_datasets(vemlapy.test_datasets_to_dict())


def test_str_list_concat_and_config_details():
    assert vemlapy.test_str_list_concat() == "token1,token2,token3"
    assert list(vemlapy.test_config_details_to_dict().items()) == [
        ("config_name", "test_config_filename.cfg"), ("label_length", 1), ("model_stride", 1),
        ("model_type", "test_model_type"), ("model_version_id", "test_model_version_id"),
        ("qscore_offset", 0.0), ("qscore_scale", 1.0), ("temp_bias", 0.0), ("temp_weight", 0.0)]


def test_helpers_carry_their_docstrings():
    assert vemlapy.test_str_list_concat.__doc__.endswith(
        "Helper function for use in testing the str_list_to_std_string() function.\n")
