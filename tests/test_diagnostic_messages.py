"""get_diagnostic_message(): every code of the table, its category word,
name and message; values that are not codes; conversion errors."""

import pytest

from quendal import core

ERRORS = """
InternalError LexerError ParserError EmitterError OptimizerError Unimplemented UnknownToken UnexpectedToken
InvalidReservedKeyword InvalidKeyword InvalidNumberLiteralUnderscore InvalidNumberLiteral OverflowNumberLiteral
OverflowIntegerLiteral InvalidOrdinalLiteral UnterminatedString InvalidEscapeSequence InvalidHexEscapeSequence
InvalidUnicodeEscapeSequence BadArraySpread UnterminatedInterpolation BadInterpolation EmptyInterpolation
UnexpectedUnderscore UnexpectedGlobal MissingComma MissingCloseBracket MissingOpenBrace MissingCloseBrace
MissingCloseParen MissingSemicolon MissingColon MissingBindOperator InvalidConstantName MissingFunctionName
MissingModuleName MissingOpenParenAfterExtension MissingOpenParenAfterType InvalidTypeCall
RecordLiteralInExtensionCaller MissingCase UnknownExpression UnmatchedCloseBrace UnmatchedCloseBracket
UnmatchedCloseParen UnknownPattern InvalidConstantLiteral UnknownStatement ExpressionExpected PatternExpected
ExclamationInLiteralPattern MutInRebindPattern ConstantInBindPattern MutInDiscardPattern DiscardInSpreadPattern
MispositionedSpreadInRecordPattern InterpolatedNameRecordPattern BadOmitKeyRecordPattern AmbiguousRangePattern
DuplicateSpreadPattern MispositionedRestParameter UndefinedVariableAssignment ImmutableVariableAssignment
UninitializedVariable DuplicateVariableDeclaration UnexpectedBreak UnexpectedContinue MisuseOfGlobalKeyword
BadOmitKeyRecordExpression UnassignableExpression UnexpectedPub
"""
WARNINGS = """
MisleadingNilVariable UnnecessaryIrrefutablePattern MatchExpressionHasNoCases NonNumberInRange
NonNumberOrStringInComparison NonNumberInArithmetic NonBooleanInLogical NonCompoundIn LiteralNotCallable
LiteralNotIndexable GlobalVariableNotDeclared
"""
HINTS = """
UnusedLocalVariable UnusedLocalFunction PreferLogicalOperatorAnd PreferLogicalOperatorOr PreferLogicalOperatorNot
PreferParenthesesForRecordLiteral PreferIfExpression UnnecessaryParentheses PreferUppercaseConstant
"""
REFERENCES = """
VariableDeclaredHere FunctionDeclaredHere ParameterDeclaredHere ParameterItDeclaredHere ParameterRestDeclaredHere
ParameterSubPatternDeclaredHere
"""
TAGS = """
LocalConst LocalImmutable LocalMutable LocalFunction LocalModule ParameterIt ParameterImmutable ParameterMutable
ParameterImmutableRest ParameterMutableRest ParameterPattern ParameterRestPattern ParameterSubPatternImmutable
ParameterSubPatternMutable GlobalVariable GlobalDynamicAccess RecordFieldIdName RecordFieldOrdinalName
RecordFieldStringName UnnamedRecordField0 UnnamedRecordField1 UnnamedRecordField2 UnnamedRecordField3
UnnamedRecordField4 UnnamedRecordField5 UnnamedRecordField6 UnnamedRecordField7 UnnamedRecordField8
UnnamedRecordField9 UnnamedRecordFieldN OmitNamedRecordField FunctionCall ExtensionCall Scope String
Interpolation ForExpression WhileExpression LoopExpression FnDeclaration FnExpression IfExpression MatchExpression
"""
TAG_REFS = """
ReadLocal ReadWriteLocal WriteLocal RedeclareLocal ExportedLocal Callable ArgumentExtension ArgumentStart
ArgumentEnd ArgumentComma ArgumentSpread KeywordFor KeywordIn KeywordWhile KeywordLoop KeywordBreak
KeywordContinue KeywordIf KeywordElse KeywordMatch KeywordCase KeywordFn KeywordReturn OmitNamedRecordFieldName
"""


def _range(start, end, names, start_name, end_name, start_word, word):
    rows = [(start, start_name, start_word, False)]
    rows += [(start + 1 + i, n, word, True) for i, n in enumerate(names.split())]
    rows.append((end, end_name, "Unknown", False))
    return rows


# (value, name, category word, has a message of its own)
CODES = (
    _range(1000, 1999, ERRORS, "ErrorStart", "ErrorEnd", "Unknown", "Error")
    + _range(2000, 2999, WARNINGS, "WarningStart", "WarningEnd", "Warning", "Warning")
    + _range(3000, 3999, "", "InfoStart", "InfoEnd", "Info", "Info")
    + _range(4000, 4999, HINTS, "HintStart", "HintEnd", "Hint", "Hint")
    + _range(5000, 5999, REFERENCES, "ReferenceStart", "ReferenceEnd", "Reference", "Reference")
    + [(v, n, "Unknown", False) for v, n, _, _ in _range(10000, 10999, TAGS, "TagStart", "TagEnd", "", "")]
    + [(v, n, "Unknown", False) for v, n, _, _ in _range(11000, 11999, TAG_REFS, "TagRefStart", "TagRefEnd", "", "")]
    + [(12000, "SourceMap", "Unknown", False)]
)


def test_code_table_size():
    assert len(CODES) == 179
    assert sum(own for *_, own in CODES) == 97
    assert [v for v, n, *_ in CODES if n.startswith("UnnamedRecordField")] == list(range(10020, 10031))


@pytest.mark.parametrize("value, name, word, own_message", CODES, ids=[c[1] for c in CODES])
def test_every_code(value, name, word, own_message):
    result = core.get_diagnostic_message(value)
    assert type(result) is tuple and len(result) == 3
    assert all(type(s) is str for s in result)
    assert result[:2] == (word, name)
    if own_message:
        assert result[2] != "Unknown error" and result[2]
    else:
        assert result[2] == "Unknown error"


@pytest.mark.parametrize(
    "value, expected",
    [
        (1002, ("Error", "LexerError", "发生未知词法错误")),
        (1001, ("Error", "InternalError", "发生未知内部错误")),
        (1009, ("Error", "InvalidReservedKeyword", "`$0` 是保留关键字，不能用作标识符")),
        (1015, ("Error", "InvalidOrdinalLiteral", "无效的序数字面量；请移除前导零和下划线，或改用 `[$0]`")),
        (1031, ("Error", "MissingSemicolon", "语句末尾缺少 `;`")),
        (1063, ("Error", "ImmutableVariableAssignment", "不能对不可变变量赋值...")),
        (1065, ("Error", "DuplicateVariableDeclaration", "该变量已...")),
        (
            1068,
            (
                "Error",
                "MisuseOfGlobalKeyword",
                "`global` 关键字只能用作 `global.<name>`、`global[<name>]` 或 `in` 运算符右侧",
            ),
        ),
        (1071, ("Error", "UnexpectedPub", "在模块声明之外出现意外的 `pub`")),
        (2001, ("Warning", "MisleadingNilVariable", "`$0` 不是空值；显式使用全局变量 `global.$0` 或空值 `nil`")),
        (2011, ("Warning", "GlobalVariableNotDeclared", "全局变量 `$0` 未声明")),
        (4006, ("Hint", "PreferParenthesesForRecordLiteral", "记录字面量声明中更推荐使用 `()` 而非 `{}`")),
        (4009, ("Hint", "PreferUppercaseConstant", "常量 $0 建议使用大写")),
        (5001, ("Reference", "VariableDeclaredHere", "...在此处声明")),
        (5004, ("Reference", "ParameterItDeclaredHere", "...在此处被该函数声明为自动参数 `it`")),
        (2000, ("Warning", "WarningStart", "Unknown error")),
        (1000, ("Unknown", "ErrorStart", "Unknown error")),
        (3000, ("Info", "InfoStart", "Unknown error")),
        (12000, ("Unknown", "SourceMap", "Unknown error")),
    ],
)
def test_messages(value, expected):
    assert core.get_diagnostic_message(value) == expected
    assert core.get_diagnostic_message(code=value) == expected


def test_reference_messages_continue_the_error_messages():
    for value in (1063, 1064, 1065):
        assert core.get_diagnostic_message(value)[2].endswith("...")
    for value in range(5001, 5007):
        assert core.get_diagnostic_message(value)[2].startswith("...")


@pytest.mark.parametrize("value", [0, 1, 999, 1072, 1998, 2012, 3001, 4010, 5007, 6000, 9999, 10044, 11025, 12001, 65535])
def test_values_that_are_not_codes(value):
    with pytest.raises(ValueError) as info:
        core.get_diagnostic_message(value)
    assert str(info.value) == f"No diagnostic message found for code {value}"
    assert not getattr(info.value, "__notes__", [])


def test_bool_and_index_objects_convert():
    class Index:
        def __index__(self):
            return 1002

    assert core.get_diagnostic_message(Index())[1] == "LexerError"
    with pytest.raises(ValueError, match=r"^No diagnostic message found for code 1$"):
        core.get_diagnostic_message(True)


@pytest.mark.parametrize("value", [-1, 65536, -(2**40), 2**40, 2**63 - 1, -(2**63)])
def test_out_of_range_values(value):
    with pytest.raises(OverflowError) as info:
        core.get_diagnostic_message(value)
    assert str(info.value) == "out of range integral type conversion attempted"
    assert info.value.__notes__ == ["while processing 'code'"]


@pytest.mark.parametrize("value", [2**63, -(2**63) - 1, 2**100])
def test_values_beyond_64_bits_fail_in_the_conversion(value):
    with pytest.raises(OverflowError) as info:
        core.get_diagnostic_message(value)
    assert str(info.value) != "out of range integral type conversion attempted"
    assert info.value.__notes__ == ["while processing 'code'"]


@pytest.mark.parametrize("value", ["1002", 1002.0, None, b"\x01", [1002]])
def test_non_integers(value):
    with pytest.raises(TypeError) as info:
        core.get_diagnostic_message(value)
    assert str(info.value) == f"'{type(value).__name__}' object cannot be interpreted as an integer"
    assert info.value.__notes__ == ["while processing 'code'"]
