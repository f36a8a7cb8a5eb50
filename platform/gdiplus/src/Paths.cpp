#include <cmath>

#include "GdiplusObjects.h"
#include "gdiplus/GdiplusFlat.h"

namespace Gdiplus {
namespace {

bool IsFinite(REAL value)
{
    return std::isfinite(value);
}

// The figure new points go to: a new one after StartPathFigure or ClosePathFigure.
GpPath::Figure& OpenFigure(GpPath* path)
{
    if (path->startNewFigure || path->figures.empty()) {
        path->figures.emplace_back();
        path->startNewFigure = false;
    }
    return path->figures.back();
}

GpStatus MultiplyMatrix(GpMatrix* matrix, const cairo_matrix_t& by, GpMatrixOrder order)
{
    if (order == MatrixOrderPrepend) {
        cairo_matrix_multiply(&matrix->matrix, &by, &matrix->matrix);
    } else if (order == MatrixOrderAppend) {
        cairo_matrix_multiply(&matrix->matrix, &matrix->matrix, &by);
    } else {
        return InvalidParameter;
    }
    return Ok;
}

}  // namespace

GpStatus GdipCreatePath(GpFillMode fillMode, GpPath** path)
{
    GDIP_REQUIRE_STARTED();
    if (path == nullptr) {
        return InvalidParameter;
    }
    *path = nullptr;
    if (fillMode != FillModeAlternate && fillMode != FillModeWinding) {
        return InvalidParameter;
    }
    *path = new GpPath{};
    (*path)->fillMode = fillMode;
    return Ok;
}

GpStatus GdipDeletePath(GpPath* path)
{
    return DeleteObject(path);
}

GpStatus GdipClonePath(GpPath* path, GpPath** clone)
{
    GDIP_REQUIRE_STARTED();
    if (path == nullptr || clone == nullptr) {
        return InvalidParameter;
    }
    *clone = new GpPath(*path);
    return Ok;
}

GpStatus GdipStartPathFigure(GpPath* path)
{
    GDIP_REQUIRE_STARTED();
    if (path == nullptr) {
        return InvalidParameter;
    }
    path->startNewFigure = true;
    return Ok;
}

GpStatus GdipClosePathFigure(GpPath* path)
{
    GDIP_REQUIRE_STARTED();
    if (path == nullptr) {
        return InvalidParameter;
    }
    if (!path->figures.empty()) {
        path->figures.back().closed = true;
    }
    path->startNewFigure = true;
    return Ok;
}

GpStatus GdipAddPathLine(GpPath* path, REAL x1, REAL y1, REAL x2, REAL y2)
{
    const GpPointF points[] = {{x1, y1}, {x2, y2}};
    return GdipAddPathLine2(path, points, 2);
}

GpStatus GdipAddPathLine2(GpPath* path, const GpPointF* points, INT count)
{
    GDIP_REQUIRE_STARTED();
    if (path == nullptr || points == nullptr || count < 1) {
        return InvalidParameter;
    }
    for (INT i = 0; i < count; ++i) {
        if (!IsFinite(points[i].X) || !IsFinite(points[i].Y)) {
            return InvalidParameter;
        }
    }
    GpPath::Figure& figure = OpenFigure(path);
    figure.points.insert(figure.points.end(), points, points + count);
    return Ok;
}

GpStatus GdipAddPathPolygon(GpPath* path, const GpPointF* points, INT count)
{
    GDIP_REQUIRE_STARTED();
    if (path == nullptr || points == nullptr || count < 3) {
        return InvalidParameter;
    }
    for (INT i = 0; i < count; ++i) {
        if (!IsFinite(points[i].X) || !IsFinite(points[i].Y)) {
            return InvalidParameter;
        }
    }
    // A polygon is a closed figure of its own.
    path->figures.push_back(GpPath::Figure{{points, points + count}, true});
    path->startNewFigure = true;
    return Ok;
}

GpStatus GdipGetPointCount(GpPath* path, INT* count)
{
    GDIP_REQUIRE_STARTED();
    if (path == nullptr || count == nullptr) {
        return InvalidParameter;
    }
    size_t total = 0;
    for (const GpPath::Figure& figure : path->figures) {
        total += figure.points.size();
    }
    *count = static_cast<INT>(total);
    return Ok;
}

GpStatus GdipTransformPath(GpPath* path, GpMatrix* matrix)
{
    GDIP_REQUIRE_STARTED();
    if (path == nullptr) {
        return InvalidParameter;
    }
    if (matrix == nullptr) {
        return Ok;  // no matrix: nothing to do
    }
    for (GpPath::Figure& figure : path->figures) {
        for (GpPointF& point : figure.points) {
            double x = point.X;
            double y = point.Y;
            cairo_matrix_transform_point(&matrix->matrix, &x, &y);
            point = GpPointF{static_cast<REAL>(x), static_cast<REAL>(y)};
        }
    }
    return Ok;
}

GpStatus GdipCreateMatrix(GpMatrix** matrix)
{
    return GdipCreateMatrix2(1, 0, 0, 1, 0, 0, matrix);
}

GpStatus GdipCreateMatrix2(REAL m11, REAL m12, REAL m21, REAL m22, REAL dx, REAL dy,
                           GpMatrix** matrix)
{
    GDIP_REQUIRE_STARTED();
    if (matrix == nullptr) {
        return InvalidParameter;
    }
    *matrix = new GpMatrix{};
    cairo_matrix_init(&(*matrix)->matrix, m11, m12, m21, m22, dx, dy);
    return Ok;
}

GpStatus GdipDeleteMatrix(GpMatrix* matrix)
{
    return DeleteObject(matrix);
}

GpStatus GdipScaleMatrix(GpMatrix* matrix, REAL scaleX, REAL scaleY, GpMatrixOrder order)
{
    GDIP_REQUIRE_STARTED();
    if (matrix == nullptr || !IsFinite(scaleX) || !IsFinite(scaleY)) {
        return InvalidParameter;
    }
    cairo_matrix_t scale;
    cairo_matrix_init_scale(&scale, scaleX, scaleY);
    return MultiplyMatrix(matrix, scale, order);
}

GpStatus GdipTranslateMatrix(GpMatrix* matrix, REAL offsetX, REAL offsetY, GpMatrixOrder order)
{
    GDIP_REQUIRE_STARTED();
    if (matrix == nullptr || !IsFinite(offsetX) || !IsFinite(offsetY)) {
        return InvalidParameter;
    }
    cairo_matrix_t translation;
    cairo_matrix_init_translate(&translation, offsetX, offsetY);
    return MultiplyMatrix(matrix, translation, order);
}

}  // namespace Gdiplus
