# Checks that an executable exports the image button's interface, so that code loaded into the
# process can use the class: its dynamic symbol table (ELF), or its export table (PE).
# Usage: cmake -DNM=<nm> -DBINARY=<executable> -P check_exports.cmake
#        cmake -DOBJDUMP=<mingw objdump> -DCXXFILT=<c++filt> -DBINARY=<norvane.exe> -P ...
if(NOT EXISTS ${BINARY})
    message(FATAL_ERROR "${BINARY} is missing")
endif()
if(OBJDUMP)
    # objdump -p lists the export table's names, one "[ordinal] name" line each.
    execute_process(COMMAND ${OBJDUMP} -p ${BINARY} COMMAND ${CXXFILT}
                    OUTPUT_VARIABLE symbols ERROR_VARIABLE errors RESULT_VARIABLE rc)
else()
    execute_process(COMMAND ${NM} -D --defined-only -C ${BINARY}
                    OUTPUT_VARIABLE symbols ERROR_VARIABLE errors RESULT_VARIABLE rc)
endif()
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "reading the exports of ${BINARY} failed: ${errors}")
endif()

set(prefix "ZUILIB::ZImageButton::")
set(expected
    "${prefix}ZImageButton(QWidget*)"
    "${prefix}~ZImageButton()"
    "${prefix}staticMetaObject"
    "${prefix}metaObject() const"
    "${prefix}qt_metacast(char const*)"
    "${prefix}qt_metacall(QMetaObject::Call, int, void**)"
    "${prefix}setImage(QString const&, int)"
    "${prefix}setImage(QString const&, QString const&, QString const&, QString const&)"
    "${prefix}setChecked(bool)"
    "${prefix}setEnabled(bool)"
    "${prefix}setDisabled(bool)"
    "${prefix}setHoverEnabled(bool)"
    "${prefix}setID(int)"
    "${prefix}id()"
    "${prefix}getImgSize(int&, int&)"
    "${prefix}setTextAlignment(Qt::AlignmentFlag)"
    "${prefix}setTextColor(QColor&, QColor&, QColor&, QColor&)"
    "${prefix}setBackGroundColor(QColor const&)"
    "${prefix}setBorder(QColor const&, int)"
    "${prefix}useBackGroundColor(bool)"
    "${prefix}mousePressEvent(QMouseEvent*)"
    "${prefix}mouseReleaseEvent(QMouseEvent*)"
    "${prefix}mouseMoveEvent(QMouseEvent*)"
    "${prefix}focusOutEvent(QFocusEvent*)"
    "${prefix}enterEvent(QEvent*)"
    "${prefix}leaveEvent(QEvent*)"
    "${prefix}paintEvent(QPaintEvent*)"
    "${prefix}resizeEvent(QResizeEvent*)"
    "${prefix}updateDrawRect()"
    "vtable for ZUILIB::ZImageButton"
    "typeinfo for ZUILIB::ZImageButton")

set(missing "")
foreach(symbol IN LISTS expected)
    # Whole names only: each line of nm's output ends with the symbol.
    string(FIND "${symbols}" " ${symbol}\n" at)
    if(at EQUAL -1)
        string(APPEND missing "\n  ${symbol}")
    endif()
endforeach()
if(missing)
    message(FATAL_ERROR "not in the dynamic symbol table of ${BINARY}:${missing}")
endif()
list(LENGTH expected count)
message(STATUS "${count} symbols of ZUILIB::ZImageButton exported by ${BINARY}")
